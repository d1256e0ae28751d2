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

std::uint32_t ComputeCrc32(const std::uint8_t* bytes, std::size_t length) {
    if (length == 0) return 0;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc = kCrcTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}
