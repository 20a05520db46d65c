#pragma once
#include "../../controls/Canvas.h"
