#pragma once
#include "../../controls/Control.h"
