#include "image/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

TEST(Crc32, GivesTheKnownValues) {
    struct Row {
        const char* name;
        const char* text;
        std::uint32_t crc;
    };
    const Row rows[] = {
        {"check value of the nine digits", "123456789", 0xCBF43926u},
        {"one letter", "a", 0xE8B7BE43u},
        {"empty: 0 by definition", "", 0u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ComputeCrc32(reinterpret_cast<const std::uint8_t*>(row.text), std::strlen(row.text)),
                  row.crc);
    }
}

TEST(Crc32, AgreesWithTheBitwiseFormOverEveryByteValue) {
    // Every table entry is used: all 256 byte values, then a filled diskette.
    std::vector<std::uint8_t> bytes(256 * 7);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 256);
    EXPECT_EQ(ComputeCrc32(bytes.data(), bytes.size()), ReferenceCrc32(bytes.data(), bytes.size()));
    const FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    EXPECT_EQ(ComputeCrc32(image.bytes.data(), image.bytes.size()),
              ReferenceCrc32(image.bytes.data(), image.bytes.size()));
}

TEST(Crc32, AgreesWithTheBitwiseFormAtEveryLengthAndAlignment) {
    // Lengths around the steps of sixteen and sixty-four bytes that the fast
    // form takes (63 bytes and fewer go by table alone; 64 is four blocks
    // and nothing more; 80 adds one block; 81 leaves one byte for the
    // table), each from several start offsets.
    std::vector<std::uint8_t> bytes(5000);
    std::uint32_t state = 12345;
    for (std::uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    const std::size_t lengths[] = {1,  15,  16,  63,  64,  65,  79,   80,
                                   81, 127, 128, 129, 143, 200, 1000, 4095};
    const std::size_t offsets[] = {0, 1, 7, 15};
    for (std::size_t length : lengths) {
        for (std::size_t offset : offsets) {
            SCOPED_TRACE("length " + std::to_string(length) + ", offset " + std::to_string(offset));
            EXPECT_EQ(ComputeCrc32(bytes.data() + offset, length),
                      ReferenceCrc32(bytes.data() + offset, length));
        }
    }
}
