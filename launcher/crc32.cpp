// CRC-32 of IEEE 802.3 (the one zlib's crc32 computes). The table is built
// once at start-up. On processors with carry-less multiplication
// (PCLMULQDQ), chosen at run time by CPUID, long buffers are folded 64 bytes
// at a time; the table does the rest and everything on other processors.
#include <cstddef>
#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define LAUNCHER_CRC_FOLDING 1
#endif

#include "launcher/crc32.h"

namespace launcher {

namespace {

// Built at start-up: it takes no room in the image file (see the build's
// size flags for how it stays in .bss).
uint32_t crcTable[256];
bool useFolding = false;

uint32_t TableUpdate(uint32_t c, const uint8_t* p, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) c = crcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c;
}

#if defined(LAUNCHER_CRC_FOLDING)

constexpr std::size_t kFoldingMinimum = 64;

bool ProcessorCanFold() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool pclmulqdq = (ecx & (1u << 1)) != 0;
  const bool sse2 = (edx & (1u << 26)) != 0;
  return pclmulqdq && sse2;
}

// x folded forward by 128 bits onto `next`.
__attribute__((target("pclmul,sse2"))) inline __m128i FoldOnce(__m128i x, __m128i next, __m128i k3k4) {
  const __m128i lo = _mm_clmulepi64_si128(x, k3k4, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k3k4, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, next), lo);
}

// Folds `length` bytes (a multiple of 16, at least 64) into the CRC register
// `c` (not inverted) and returns the register.
__attribute__((target("pclmul,sse2"), force_align_arg_pointer)) uint32_t FoldUpdate(uint32_t c, const uint8_t* p,
                                                                                   std::size_t length) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(c)));
  p += 64;
  length -= 64;
  while (length >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
    x2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
    x3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
    x4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
    p += 64;
    length -= 64;
  }
  // Four lanes into one.
  x1 = FoldOnce(x1, x2, k3k4);
  x1 = FoldOnce(x1, x3, k3k4);
  x1 = FoldOnce(x1, x4, k3k4);
  while (length >= 16) {
    x1 = FoldOnce(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k3k4);
    p += 16;
    length -= 16;
  }
  // 128 bits to 64.
  x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, low32);
  x1 = _mm_clmulepi64_si128(x1, k5, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  // Barrett reduction to 32 bits.
  x2 = _mm_and_si128(x1, low32);
  x2 = _mm_clmulepi64_si128(x2, poly, 0x10);
  x2 = _mm_and_si128(x2, low32);
  x2 = _mm_clmulepi64_si128(x2, poly, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

#endif  // LAUNCHER_CRC_FOLDING

}  // namespace

void BuildCrcTable() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = i;
    for (int k = 0; k < 8; ++k) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    crcTable[i] = v;
  }
#if defined(LAUNCHER_CRC_FOLDING)
  useFolding = ProcessorCanFold();
#endif
}

uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t c = crc ^ 0xFFFFFFFFu;
#if defined(LAUNCHER_CRC_FOLDING)
  if (useFolding && length >= kFoldingMinimum) {
    const std::size_t folded = length & ~std::size_t(15);
    c = FoldUpdate(c, p, folded);
    p += folded;
    length -= folded;
  }
#endif
  return TableUpdate(c, p, length) ^ 0xFFFFFFFFu;
}

uint32_t Crc32(const void* data, std::size_t length) { return Crc32Update(0, data, length); }

namespace {

// a times b modulo the CRC polynomial, bits reflected (bit 31 holds x^0).
uint32_t MultiplyModP(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
    if (a & m) product ^= b;
    b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
  }
  return product;
}

}  // namespace

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
  // Running B's bytes after A's multiplies A's register by x^(8 lengthB);
  // the power is made from the squares x^8, x^16, x^32, ...
  uint32_t power = 1u << 31;
  uint32_t square = 1u << 23;
  for (uint64_t n = lengthB; n != 0; n >>= 1) {
    if (n & 1) power = MultiplyModP(power, square);
    square = MultiplyModP(square, square);
  }
  return MultiplyModP(power, crcA) ^ crcB;
}

bool CrcFoldingForTesting(bool enabled) {
  const bool before = useFolding;
#if defined(LAUNCHER_CRC_FOLDING)
  useFolding = enabled && ProcessorCanFold();
#else
  (void)enabled;
#endif
  return before;
}

}  // namespace launcher
