#pragma once
#include "../../runtime/Runtime.h"
