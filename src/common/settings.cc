#include "common/settings.h"

RunSettings g_settings;
