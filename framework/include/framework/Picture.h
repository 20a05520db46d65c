#pragma once
#include "../../drawing/Picture.h"
