#pragma once
#include "../../platform/ConsoleUse.h"
