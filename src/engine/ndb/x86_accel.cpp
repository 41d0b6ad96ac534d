#include "engine/ndb/x86_accel.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define PARVANE_X86_ACCEL 1
#include <immintrin.h>
#endif

namespace parvane::ndb::accel {

#ifdef PARVANE_X86_ACCEL

namespace {

bool hasVbmi() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi");
  return has;
}

bool hasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

// 64 bytes at a time: two two-register byte permutes cover the table's lower
// and upper 128 entries; each byte's top bit picks between them.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void permuteVbmi(const std::uint8_t* table,
                                                                         const std::uint8_t* from,
                                                                         std::uint8_t* to, std::size_t n) {
  const __m512i t0 = _mm512_loadu_si512(table);
  const __m512i t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128);
  const __m512i t3 = _mm512_loadu_si512(table + 192);
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m512i index = _mm512_loadu_si512(from + i);
    const __m512i low = _mm512_permutex2var_epi8(t0, index, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, index, t3);
    _mm512_storeu_si512(to + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high));
  }
  if (i < n) {
    const __mmask64 tail = _cvtu64_mask64(~std::uint64_t{0} >> (64 - (n - i)));
    const __m512i index = _mm512_maskz_loadu_epi8(tail, from + i);
    const __m512i low = _mm512_permutex2var_epi8(t0, index, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, index, t3);
    _mm512_mask_storeu_epi8(to + i, tail, _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high));
  }
}

__attribute__((target("sse2"))) inline __m128i load(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// One lane of 128 bits moved forward over the next one and added to it.
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Carry-less multiplication folding (Gopal et al., "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ Instruction", Intel, 2009) with the
// constants of the bit-reflected CRC-32 polynomial: four lanes of 16 bytes
// folded 64 bytes at a time, then into one lane, then reduced to 32 bits
// (Barrett).
__attribute__((target("pclmul,sse4.1"))) std::uint32_t foldClmul(const std::uint8_t* p, std::size_t n,
                                                                 std::uint32_t crc) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = load(p + 16);
  __m128i x3 = load(p + 32);
  __m128i x4 = load(p + 48);
  p += 64;
  n -= 64;
  while (n >= 64) {
    x1 = fold(x1, k1k2, load(p));
    x2 = fold(x2, k1k2, load(p + 16));
    x3 = fold(x3, k1k2, load(p + 32));
    x4 = fold(x4, k1k2, load(p + 48));
    p += 64;
    n -= 64;
  }
  x1 = fold(x1, k3k4, x2);
  x1 = fold(x1, k3k4, x3);
  x1 = fold(x1, k3k4, x4);
  while (n >= 16) {
    x1 = fold(x1, k3k4, load(p));
    p += 16;
    n -= 16;
  }

  // 128 bits to 64.
  const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, mask32), k5k0, 0x00));
  // Barrett reduction to 32 bits.
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

}  // namespace

bool permute(const std::uint8_t* table, const std::uint8_t* from, std::uint8_t* to, std::size_t n) {
  if (!hasVbmi()) return false;
  if (n != 0) permuteVbmi(table, from, to, n);
  return true;
}

std::size_t crcFold(const std::uint8_t* data, std::size_t n, std::uint32_t& crc) {
  if (n < 64 || !hasClmul()) return 0;
  const std::size_t whole = n & ~std::size_t{15};
  crc = foldClmul(data, whole, crc);
  return whole;
}

#else

bool permute(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t) { return false; }
std::size_t crcFold(const std::uint8_t*, std::size_t, std::uint32_t&) { return 0; }

#endif

}  // namespace parvane::ndb::accel
