#pragma once
#include "../../controls/PushButton.h"
