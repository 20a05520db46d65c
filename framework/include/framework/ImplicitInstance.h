#pragma once
#include "../../base/ImplicitInstance.h"
