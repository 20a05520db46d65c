#pragma once
#include "../../windows/MenuBar.h"
