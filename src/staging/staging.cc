// Staging folder: not built yet; every operation fails.
#include "staging/staging.h"

#include <cstdio>

bool create_staging_folder() {
  std::fputs("trelvik: staging is not implemented yet\n", stderr);
  return false;
}
int stage_files(VersionTable &, const PatternList &, const PatternList &) {
  return 0;
}
bool ensure_folder(const std::string &) {
  return false;
}
void set_workdir() {}
void remove_staged_copies(const VersionTable &) {}
bool remove_folder_tree(const std::string &) {
  return false;
}
