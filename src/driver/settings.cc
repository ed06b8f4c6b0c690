#include "driver/settings.h"

RunSettings g_settings;
