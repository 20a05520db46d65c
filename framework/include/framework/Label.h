#pragma once
#include "../../controls/Label.h"
