// File services: not built yet. Every call fails and says so.
#include <cstdio>

#include "platform/platform.h"

namespace platform {
namespace {
void not_implemented(const char *name) {
  std::fprintf(stderr, "trelvik: platform::%s is not implemented yet\n", name);
}
} // namespace

PathKind path_kind(const char *) {
  not_implemented("path_kind");
  return PathKind::Missing;
}
int make_folder(const char *) {
  not_implemented("make_folder");
  return 1;
}
bool remove_folder(const char *) {
  not_implemented("remove_folder");
  return false;
}
bool delete_file(const char *) {
  not_implemented("delete_file");
  return false;
}
bool copy_file(const char *, const char *, std::string *error_text) {
  not_implemented("copy_file");
  *error_text = "not implemented\n";
  return false;
}
bool list_folder(const char *, void (*)(const FolderEntry &, void *), void *) {
  not_implemented("list_folder");
  return false;
}
} // namespace platform
