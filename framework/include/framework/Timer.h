#pragma once
#include "../../controls/Timer.h"
