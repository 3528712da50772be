// The platform's declarations of the Wine build (see platform/wine/platform.h).
#pragma once

#include "platform/wine/platform.h"
