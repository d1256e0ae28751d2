#include "image/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
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
