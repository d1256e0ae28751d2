// crc32.cpp - table-driven CRC-32.
#include "image/crc32.h"

#include <array>

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

std::uint32_t ComputeCrc32(const std::uint8_t* bytes, std::size_t length) {
    if (length == 0) return 0;
    std::uint32_t crc = 0xFFFFFFFFu;
    std::size_t i = 0;
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
