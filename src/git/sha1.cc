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

// The 80 rounds, unrolled by five so that the five working words never
// move, with the message schedule kept in a ring of 16 words.
#define TVK_SHA1_ROUND(a, b, c, d, e, f, k, w)                                                     \
  e += rotate(a, 5) + (f) + (k) + (w);                                                             \
  b = rotate(b, 30)

void Sha1::block(const unsigned char *data) {
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t(data[4 * i]) << 24 | std::uint32_t(data[4 * i + 1]) << 16 |
           std::uint32_t(data[4 * i + 2]) << 8 | std::uint32_t(data[4 * i + 3]);
  auto next = [&w](int t) {
    std::uint32_t value =
        rotate(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
    w[t & 15] = value;
    return value;
  };
  auto word = [&](int t) { return t < 16 ? w[t] : next(t); };
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int t = 0; t < 20; t += 5) {
    TVK_SHA1_ROUND(a, b, c, d, e, (b & c) | (~b & d), 0x5A827999u, word(t));
    TVK_SHA1_ROUND(e, a, b, c, d, (a & b) | (~a & c), 0x5A827999u, word(t + 1));
    TVK_SHA1_ROUND(d, e, a, b, c, (e & a) | (~e & b), 0x5A827999u, word(t + 2));
    TVK_SHA1_ROUND(c, d, e, a, b, (d & e) | (~d & a), 0x5A827999u, word(t + 3));
    TVK_SHA1_ROUND(b, c, d, e, a, (c & d) | (~c & e), 0x5A827999u, word(t + 4));
  }
  for (int t = 20; t < 40; t += 5) {
    TVK_SHA1_ROUND(a, b, c, d, e, b ^ c ^ d, 0x6ED9EBA1u, next(t));
    TVK_SHA1_ROUND(e, a, b, c, d, a ^ b ^ c, 0x6ED9EBA1u, next(t + 1));
    TVK_SHA1_ROUND(d, e, a, b, c, e ^ a ^ b, 0x6ED9EBA1u, next(t + 2));
    TVK_SHA1_ROUND(c, d, e, a, b, d ^ e ^ a, 0x6ED9EBA1u, next(t + 3));
    TVK_SHA1_ROUND(b, c, d, e, a, c ^ d ^ e, 0x6ED9EBA1u, next(t + 4));
  }
  for (int t = 40; t < 60; t += 5) {
    TVK_SHA1_ROUND(a, b, c, d, e, (b & c) | (d & (b | c)), 0x8F1BBCDCu, next(t));
    TVK_SHA1_ROUND(e, a, b, c, d, (a & b) | (c & (a | b)), 0x8F1BBCDCu, next(t + 1));
    TVK_SHA1_ROUND(d, e, a, b, c, (e & a) | (b & (e | a)), 0x8F1BBCDCu, next(t + 2));
    TVK_SHA1_ROUND(c, d, e, a, b, (d & e) | (a & (d | e)), 0x8F1BBCDCu, next(t + 3));
    TVK_SHA1_ROUND(b, c, d, e, a, (c & d) | (e & (c | d)), 0x8F1BBCDCu, next(t + 4));
  }
  for (int t = 60; t < 80; t += 5) {
    TVK_SHA1_ROUND(a, b, c, d, e, b ^ c ^ d, 0xCA62C1D6u, next(t));
    TVK_SHA1_ROUND(e, a, b, c, d, a ^ b ^ c, 0xCA62C1D6u, next(t + 1));
    TVK_SHA1_ROUND(d, e, a, b, c, e ^ a ^ b, 0xCA62C1D6u, next(t + 2));
    TVK_SHA1_ROUND(c, d, e, a, b, d ^ e ^ a, 0xCA62C1D6u, next(t + 3));
    TVK_SHA1_ROUND(b, c, d, e, a, c ^ d ^ e, 0xCA62C1D6u, next(t + 4));
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

#undef TVK_SHA1_ROUND

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
