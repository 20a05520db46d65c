#pragma once
#include "../../drawing/Graphics.h"
