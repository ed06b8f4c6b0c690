// SHA-1 blocks with the x86 SHA extensions (SHA-NI), about four times the
// portable rounds' speed: hashing the work tree's files is most of what a
// large commit costs trelvik-git. Built for x86-64 only; the instructions
// are used only when the processor reports them, so the program still runs
// everywhere the portable code does.
#include <cpuid.h>
#include <immintrin.h>

#include <utility>

#include "git/sha1.h"

namespace tvkgit {
namespace {

#define TVK_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four rounds, G of 0..19, with the message schedule of the rounds to come:
// the four message registers take turns, as the instructions expect.
template <int G>
TVK_SHA_TARGET inline void four_rounds(__m128i &abcd, __m128i &e0, __m128i &e1, __m128i *m) {
  __m128i &current = m[G % 4];
  __m128i &input = G % 2 == 0 ? e0 : e1;
  __m128i &saved = G % 2 == 0 ? e1 : e0;
  if constexpr (G == 0)
    input = _mm_add_epi32(input, current);
  else
    input = _mm_sha1nexte_epu32(input, current);
  saved = abcd;
  if constexpr (G >= 3 && G <= 18)
    m[(G + 1) % 4] = _mm_sha1msg2_epu32(m[(G + 1) % 4], current);
  abcd = _mm_sha1rnds4_epu32(abcd, input, G / 5);
  if constexpr (G >= 1 && G <= 16)
    m[(G + 3) % 4] = _mm_sha1msg1_epu32(m[(G + 3) % 4], current);
  if constexpr (G >= 2 && G <= 17)
    m[(G + 2) % 4] = _mm_xor_si128(m[(G + 2) % 4], current);
}

template <int... G>
TVK_SHA_TARGET inline void eighty_rounds(__m128i &abcd, __m128i &e0, __m128i &e1, __m128i *m,
                                         std::integer_sequence<int, G...>) {
  (four_rounds<G>(abcd, e0, e1, m), ...);
}

TVK_SHA_TARGET void sha_ni_blocks(std::uint32_t *state, const unsigned char *data,
                                  std::size_t count) {
  // Big-endian words, as SHA-1 reads them.
  const __m128i byte_order = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count > 0; --count, data += 64) {
    __m128i abcd_before = abcd;
    __m128i e_before = e0;
    __m128i e1;
    __m128i m[4];
    for (int i = 0; i < 4; ++i)
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * i)),
                              byte_order);
    eighty_rounds(abcd, e0, e1, m, std::make_integer_sequence<int, 20>());
    e0 = _mm_sha1nexte_epu32(e0, e_before);
    abcd = _mm_add_epi32(abcd, abcd_before);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef TVK_SHA_TARGET

bool processor_has_sha() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_SSE4_1) == 0 || (c & bit_SSSE3) == 0)
    return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA) != 0;
}

} // namespace

Sha1::Blocks hardware_sha1_blocks() {
  static const Sha1::Blocks blocks = processor_has_sha() ? sha_ni_blocks : nullptr;
  return blocks;
}

} // namespace tvkgit
