#pragma once
#include "../../base/RuntimeException.h"
