#pragma once
#include "../../base/FolderItem.h"
