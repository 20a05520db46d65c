#pragma once
#include "../../base/Design.h"
