#pragma once
#include "../../runtime/Resources.h"
