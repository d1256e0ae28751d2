// crc32.cpp - CRC-32 by tables, and on x86-64 processors that have it by
// carry-less multiplication, sixteen bytes at a step.
#include "image/crc32.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

// Entry n is the register after shifting the single byte n through eight
// reflected polynomial steps.
static constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t value = n;
        for (int step = 0; step < 8; ++step) {
            value = (value & 1u) != 0 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        }
        table[n] = value;
    }
    return table;
}

static constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x77073096u, "CRC-32 table");
static_assert(kCrcTable[255] == 0x2D02EF8Du, "CRC-32 table");

// Eight bytes at a time: row k, entry n is the register after byte n has
// been shifted through followed by k zero bytes, so the eight lookups of one
// step together give what eight single-byte steps give.
static constexpr std::size_t kSliceCount = 8;
using SliceTables = std::array<std::array<std::uint32_t, 256>, kSliceCount>;
static constexpr SliceTables MakeSliceTables() {
    SliceTables tables{};
    tables[0] = kCrcTable;
    for (std::size_t row = 1; row < kSliceCount; ++row) {
        for (std::uint32_t n = 0; n < 256; ++n) {
            const std::uint32_t previous = tables[row - 1][n];
            tables[row][n] = kCrcTable[previous & 0xFFu] ^ (previous >> 8);
        }
    }
    return tables;
}

static constexpr SliceTables kSliceTables = MakeSliceTables();
static_assert(kSliceTables[1][1] == 0x191B3141u, "CRC-32 slice table");

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// Folding. The CRC register of a message is its remainder modulo the
// polynomial P = 0x104C11DB7 (bit 32 set; 0xEDB88320 is its low 32 bits
// reflected). A block of 128 bits standing d bits before the end contributes
// its two 64-bit halves times x^(d + 64) and x^d, modulo P, so a block can be
// moved (folded) onto a later one by two carry-less multiplications with
// x^n mod P. In the reflected bit order the constants are reflected too, and
// shifted left by one, because the product of two reflected 64-bit values
// comes out one bit short of its place.
static constexpr std::uint64_t kCrcPolynomial = 0x104C11DB7u;

static constexpr std::uint64_t ReflectBits(std::uint64_t value, unsigned bitCount) {
    std::uint64_t reflected = 0;
    for (unsigned bit = 0; bit < bitCount; ++bit) {
        if ((value >> bit) & 1u) reflected |= std::uint64_t{1} << (bitCount - 1 - bit);
    }
    return reflected;
}

// x^n mod P.
static constexpr std::uint64_t PowerOfXModulo(unsigned n) {
    std::uint64_t remainder = 1;
    for (unsigned step = 0; step < n; ++step) {
        remainder <<= 1;
        if ((remainder >> 32) & 1u) remainder ^= kCrcPolynomial;
    }
    return remainder;
}

static constexpr std::uint64_t FoldConstant(unsigned n) {
    return ReflectBits(PowerOfXModulo(n), 32) << 1;
}

// The quotient x^64 / P, for the Barrett reduction of the last 64 bits.
static constexpr std::uint64_t QuotientOfX64() {
    std::uint64_t quotient = 0;
    std::uint64_t remainder = 0;   // the dividend's bits taken so far, less multiples of P
    for (int bit = 64; bit >= 0; --bit) {
        remainder = (remainder << 1) | (bit == 64 ? 1u : 0u);
        if ((remainder >> 32) & 1u) {
            remainder ^= kCrcPolynomial;
            quotient |= std::uint64_t{1} << bit;
        }
    }
    return quotient;
}

// Four blocks (512 bits) apart, one block apart, and the last 64 and 96 bits.
static constexpr std::uint64_t kFoldFourLow = FoldConstant(4 * 128 + 32);
static constexpr std::uint64_t kFoldFourHigh = FoldConstant(4 * 128 - 32);
static constexpr std::uint64_t kFoldOneLow = FoldConstant(128 + 32);
static constexpr std::uint64_t kFoldOneHigh = FoldConstant(128 - 32);
static constexpr std::uint64_t kFoldSixtyFour = FoldConstant(64);
static constexpr std::uint64_t kBarrettQuotient = ReflectBits(QuotientOfX64(), 33);
static constexpr std::uint64_t kBarrettPolynomial = ReflectBits(kCrcPolynomial, 33);
static_assert(kFoldFourLow == 0x154442BD4u && kFoldFourHigh == 0x1C6E41596u, "folding constants");
static_assert(kFoldOneLow == 0x1751997D0u && kFoldOneHigh == 0x0CCAA009Eu, "folding constants");
static_assert(kFoldSixtyFour == 0x163CD6124u, "folding constants");
static_assert(kBarrettQuotient == 0x1F7011641u && kBarrettPolynomial == 0x1DB710641u, "Barrett");

static __m128i LoadBlock(const std::uint8_t* bytes) {
    __m128i block;
    __builtin_memcpy(&block, bytes, sizeof(block));
    return block;
}

// Moves block on by the distance of constants (low half by its low
// constant, high half by its high one) and adds next.
__attribute__((target("pclmul,sse4.1"))) static __m128i Fold(__m128i block, __m128i constants,
                                                               __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(block, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(block, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Takes the register crc (not yet inverted at the end) through length bytes,
// a multiple of 16 and at least 64; gives the register after them.
__attribute__((target("pclmul,sse4.1"))) static std::uint32_t FoldCrc32(
    std::uint32_t crc, const std::uint8_t* bytes, std::size_t length) {
    const __m128i foldFour = _mm_set_epi64x(static_cast<long long>(kFoldFourHigh),
                                            static_cast<long long>(kFoldFourLow));
    const __m128i foldOne = _mm_set_epi64x(static_cast<long long>(kFoldOneHigh),
                                           static_cast<long long>(kFoldOneLow));
    __m128i x1 = _mm_xor_si128(LoadBlock(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = LoadBlock(bytes + 16);
    __m128i x3 = LoadBlock(bytes + 32);
    __m128i x4 = LoadBlock(bytes + 48);
    std::size_t offset = 64;
    for (; length - offset >= 64; offset += 64) {
        x1 = Fold(x1, foldFour, LoadBlock(bytes + offset));
        x2 = Fold(x2, foldFour, LoadBlock(bytes + offset + 16));
        x3 = Fold(x3, foldFour, LoadBlock(bytes + offset + 32));
        x4 = Fold(x4, foldFour, LoadBlock(bytes + offset + 48));
    }
    x1 = Fold(x1, foldOne, x2);
    x1 = Fold(x1, foldOne, x3);
    x1 = Fold(x1, foldOne, x4);
    for (; offset < length; offset += 16) x1 = Fold(x1, foldOne, LoadBlock(bytes + offset));

    // 128 bits to 64: the low half moves on by 64 bits onto the high half,
    // then the low 32 bits of that by 32 more onto the rest.
    const __m128i lowWords = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, foldOne, 0x10));
    const __m128i sixtyFour = _mm_cvtsi64_si128(static_cast<long long>(kFoldSixtyFour));
    x = _mm_xor_si128(_mm_srli_si128(x, 4),
                      _mm_clmulepi64_si128(_mm_and_si128(x, lowWords), sixtyFour, 0x00));
    // Barrett reduction: the remainder of the last 64 bits modulo P.
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(kBarrettQuotient),
                                           static_cast<long long>(kBarrettPolynomial));
    __m128i estimate = _mm_clmulepi64_si128(_mm_and_si128(x, lowWords), barrett, 0x10);
    estimate = _mm_clmulepi64_si128(_mm_and_si128(estimate, lowWords), barrett, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, estimate), 1));
}

// Folding pays from a few blocks on; below that the tables are as quick.
static constexpr std::size_t kShortestFolded = 64;

static bool HasCarrylessMultiply() {
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

#endif

std::uint32_t ComputeCrc32(const std::uint8_t* bytes, std::size_t length) {
    if (length == 0) return 0;
    std::uint32_t crc = 0xFFFFFFFFu;
    std::size_t i = 0;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (length >= kShortestFolded && HasCarrylessMultiply()) {
        i = length / 16 * 16;
        crc = FoldCrc32(crc, bytes, i);
    }
#endif
    for (; length - i >= kSliceCount; i += kSliceCount) {
        const std::uint32_t low = crc ^ (static_cast<std::uint32_t>(bytes[i]) |
                                         static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
                                         static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
                                         static_cast<std::uint32_t>(bytes[i + 3]) << 24);
        crc = kSliceTables[7][low & 0xFFu] ^ kSliceTables[6][(low >> 8) & 0xFFu] ^
              kSliceTables[5][(low >> 16) & 0xFFu] ^ kSliceTables[4][low >> 24] ^
              kSliceTables[3][bytes[i + 4]] ^ kSliceTables[2][bytes[i + 5]] ^
              kSliceTables[1][bytes[i + 6]] ^ kSliceTables[0][bytes[i + 7]];
    }
    for (; i < length; ++i) {
        crc = kCrcTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}
