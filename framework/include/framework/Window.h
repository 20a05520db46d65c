#pragma once
#include "../../windows/Window.h"
