// Pairs every committed file with exactly one version path by backslash
// suffix.
#pragma once

#include <cstdint>

#include "common/settings.h"
#include "platform/platform.h"

// Sets the matched file of the versions; every problem is reported and
// counted in the error count.
void reconcile_files(const FileList &files, VersionTable &versions);

// The same with the file-status query supplied by the caller, so that the
// pairing can be exercised without files on disk.
using PathKindQuery = platform::PathKind (*)(const char *path);
void reconcile_files_with(const FileList &files, VersionTable &versions, PathKindQuery path_kind);

// The same with the thread starter too (platform::start_thread in a real
// run), so that a machine that cannot start a thread can be stood in for.
void reconcile_files_with(const FileList &files, VersionTable &versions, PathKindQuery path_kind,
                          platform::ThreadStarter start_thread);
