#pragma once
#include "../../base/Types.h"
