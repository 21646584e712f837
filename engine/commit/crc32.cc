#include "engine/commit/crc32.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define SONGWRIGHT_FOLDED_CRC 1
#endif

namespace {

// zlib's own sum, in pieces its length type holds.
std::uint32_t TableCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t size) {
  constexpr std::size_t kMostAtOnce = 1u << 30;
  while (size > 0) {
    const std::size_t take = size < kMostAtOnce ? size : kMostAtOnce;
    crc = std::uint32_t(crc32(crc, bytes, uInt(take)));
    bytes += take;
    size -= take;
  }
  return crc;
}

#ifdef SONGWRIGHT_FOLDED_CRC

bool CanFold() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
    return false;
  return (ecx & bit_PCLMUL) && (ecx & bit_SSE4_1);
}

__m128i Load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Folds `x` 128 bits on with the constants of `k` and adds `next`.
__attribute__((target("pclmul,sse4.1"))) __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// The bit-reflected CRC-32 state (inverted, as zlib keeps it inside) over
// `size` bytes, a multiple of 16 and at least 64: four lanes of 128 bits
// folded 512 bits at a time, then into one, then reduced to 32 bits
// (Barrett). The constants are x^n mod P for the folding distances, and
// P with its Barrett quotient.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldedCrc(const unsigned char* bytes,
                                                                 std::size_t size,
                                                                 std::uint32_t state) {
  alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};
  __m128i x1 = _mm_xor_si128(Load(bytes), _mm_cvtsi32_si128(int(state)));
  __m128i x2 = Load(bytes + 16), x3 = Load(bytes + 32), x4 = Load(bytes + 48);
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  bytes += 64;
  size -= 64;
  for (; size >= 64; bytes += 64, size -= 64) {
    x1 = Fold(x1, k, Load(bytes));
    x2 = Fold(x2, k, Load(bytes + 16));
    x3 = Fold(x3, k, Load(bytes + 32));
    x4 = Fold(x4, k, Load(bytes + 48));
  }
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = Fold(x1, k, x2);
  x1 = Fold(x1, k, x3);
  x1 = Fold(x1, k, x4);
  for (; size >= 16; bytes += 16, size -= 16)
    x1 = Fold(x1, k, Load(bytes));
  // 128 bits to 64, then to 32.
  const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
  x2 = _mm_clmulepi64_si128(x1, k, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x00), x2);
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x10);
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask), k, 0x00);
  return std::uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, x2), 1));
}

#endif

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
#ifdef SONGWRIGHT_FOLDED_CRC
  static const bool canFold = CanFold();
  if (canFold && size >= 64) {
    const std::size_t folded = size & ~std::size_t(15);
    crc = ~FoldedCrc(bytes, folded, ~crc);
    bytes += folded;
    size -= folded;
  }
#endif
  return TableCrc(crc, bytes, size);
}

std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
  return std::uint32_t(crc32_combine(first, second, z_off_t(secondLength)));
}
