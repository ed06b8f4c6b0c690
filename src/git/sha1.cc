#include "git/sha1.h"

#include <algorithm>
#include <cstring>

namespace tvkgit {
namespace {

std::uint32_t rotate(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

} // namespace

Sha1::Sha1() : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

void Sha1::block(const unsigned char *data) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t(data[4 * i]) << 24 | std::uint32_t(data[4 * i + 1]) << 16 |
           std::uint32_t(data[4 * i + 2]) << 8 | std::uint32_t(data[4 * i + 3]);
  for (int i = 16; i < 80; ++i)
    w[i] = rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    std::uint32_t next = rotate(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rotate(b, 30);
    b = a;
    a = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

void Sha1::add(const void *data, std::size_t size) {
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  total_ += size;
  while (size > 0) {
    std::size_t taken = std::min(size, sizeof pending_ - pending_size_);
    std::memcpy(pending_ + pending_size_, bytes, taken);
    pending_size_ += taken;
    bytes += taken;
    size -= taken;
    if (pending_size_ == sizeof pending_) {
      block(pending_);
      pending_size_ = 0;
    }
  }
}

std::string Sha1::hex() {
  std::uint64_t bits = total_ * 8;
  unsigned char padding[72] = {0x80};
  std::size_t length = (pending_size_ < 56 ? 56 : 120) - pending_size_;
  for (int i = 0; i < 8; ++i)
    padding[length + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  add(padding, length + 8);
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4)
      text += kDigits[(word >> shift) & 0xF];
  }
  return text;
}

} // namespace tvkgit
