// Processors without SHA instructions that this program knows how to use:
// every block goes through the portable rounds.
#include "git/sha1.h"

namespace tvkgit {

Sha1::Blocks hardware_sha1_blocks() {
  return nullptr;
}

} // namespace tvkgit
