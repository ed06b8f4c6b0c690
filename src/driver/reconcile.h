// Pairs every committed file with exactly one version path by backslash
// suffix.
#pragma once

#include "driver/settings.h"

// Sets the matched file of the versions; every problem is reported and
// counted in the error count.
void reconcile_files(const FileList &files, VersionTable &versions);
