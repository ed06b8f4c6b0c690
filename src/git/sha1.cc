#include "git/sha1.h"

#include <algorithm>
#include <cstring>

namespace tvkgit {
namespace {

std::uint32_t rotate(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

// The 80 rounds, unrolled by five so that the five working words never
// move, with the message schedule kept in a ring of 16 words.
#define TVK_SHA1_ROUND(a, b, c, d, e, f, k, w)                                                     \
  e += rotate(a, 5) + (f) + (k) + (w);                                                             \
  b = rotate(b, 30)

void block(std::uint32_t *state, const unsigned char *data) {
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
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
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
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

#undef TVK_SHA1_ROUND

void portable_blocks(std::uint32_t *state, const unsigned char *data, std::size_t count) {
  for (; count > 0; --count, data += 64)
    block(state, data);
}

} // namespace

Sha1::Sha1(bool hardware)
    : blocks_(hardware && hardware_sha1_blocks() != nullptr ? hardware_sha1_blocks()
                                                            : portable_blocks),
      state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

void Sha1::add(const void *data, std::size_t size) {
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  total_ += size;
  if (pending_size_ > 0) {
    std::size_t taken = std::min(size, sizeof pending_ - pending_size_);
    std::memcpy(pending_ + pending_size_, bytes, taken);
    pending_size_ += taken;
    bytes += taken;
    size -= taken;
    if (pending_size_ < sizeof pending_)
      return;
    blocks_(state_, pending_, 1);
    pending_size_ = 0;
  }
  // Whole blocks straight from the caller's bytes, the rest kept for later.
  std::size_t whole = size / sizeof pending_;
  if (whole > 0)
    blocks_(state_, bytes, whole);
  pending_size_ = size - whole * sizeof pending_;
  std::memcpy(pending_, bytes + whole * sizeof pending_, pending_size_);
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
