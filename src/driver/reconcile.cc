// Reconciliation: not built yet; reports every input as an error.
#include "driver/reconcile.h"

#include "driver/diagnostics.h"

void reconcile_files(const FileList &files, VersionTable &versions) {
  if (!files.empty() || !versions.empty())
    log_error("ERROR: reconciliation is not implemented yet\n");
}
