// SHA-1, for git's object names: whether a file in the work tree holds the
// very bytes of a blob in the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tvkgit {

class Sha1 {
public:
  // Hashes COUNT blocks of 64 bytes into STATE.
  using Blocks = void (*)(std::uint32_t *state, const unsigned char *data, std::size_t count);

  // With HARDWARE, the processor's SHA instructions when it has them.
  explicit Sha1(bool hardware = true);
  void add(const void *data, std::size_t size);
  // The digest in lower-case hexadecimal; the object is spent afterwards.
  std::string hex();

private:
  Blocks blocks_;
  std::uint32_t state_[5];
  unsigned char pending_[64];
  std::size_t pending_size_ = 0;
  std::uint64_t total_ = 0;
};

// The processor's SHA-1 block function, or null when it has none.
Sha1::Blocks hardware_sha1_blocks();

} // namespace tvkgit
