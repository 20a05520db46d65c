#pragma once
#include "../../windows/MenuItem.h"
