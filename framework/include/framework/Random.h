#pragma once
#include "../../runtime/Random.h"
