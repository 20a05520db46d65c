#pragma once
#include "../../cues/Cues.h"
