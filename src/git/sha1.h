// SHA-1, for git's object names: whether a file in the work tree holds the
// very bytes of a blob in the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tvkgit {

class Sha1 {
public:
  Sha1();
  void add(const void *data, std::size_t size);
  // The digest in lower-case hexadecimal; the object is spent afterwards.
  std::string hex();

private:
  void block(const unsigned char *data);

  std::uint32_t state_[5];
  unsigned char pending_[64];
  std::size_t pending_size_ = 0;
  std::uint64_t total_ = 0;
};

} // namespace tvkgit
