#pragma once
#include "../../controls/Rectangle.h"
