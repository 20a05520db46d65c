#pragma once
#include "../../base/Cursor.h"
