#pragma once
#include "../../runtime/MessageBox.h"
