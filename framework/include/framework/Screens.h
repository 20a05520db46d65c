#pragma once
#include "../../runtime/Screens.h"
