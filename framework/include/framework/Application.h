#pragma once
#include "../../runtime/Application.h"
