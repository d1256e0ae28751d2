// Tests of the media type selection: the first matching rule wins.
#include "diskette/device.h"

#include <gtest/gtest.h>

namespace {

TEST(MediaTypeSelection, TakesTheFirstMatchingRule) {
    struct Row {
        const char* name;
        std::uint8_t deviceType;
        std::uint8_t mediaDescriptor;
        std::uint32_t sectorsPerTrack;
        MediaType expected;
    };
    const Row rows[] = {
        {"2.88 MB drive, 36 sectors", 9, 0xF0, 36, MediaType::F3_2Pt88_512},
        {"2.88 MB drive, more than 36 sectors", 9, 0xF0, 40, MediaType::F3_2Pt88_512},
        {"2.88 MB drive, 18 sectors: media F0 decides", 9, 0xF0, 18, MediaType::F3_1Pt44_512},
        {"media F0, 18 sectors", 0, 0xF0, 18, MediaType::F3_1Pt44_512},
        {"media F0 before device type 2", 2, 0xF0, 9, MediaType::F3_1Pt44_512},
        {"device type 2 whatever the media", 2, 0xFD, 9, MediaType::F3_720_512},
        {"media F9, 9 sectors", 0, 0xF9, 9, MediaType::F3_720_512},
        {"media F9, 15 sectors", 0, 0xF9, 15, MediaType::F5_1Pt2_512},
        {"media F9, 18 sectors", 0, 0xF9, 18, MediaType::F5_360_512},
        {"media FD, 9 sectors", 0, 0xFD, 9, MediaType::F5_360_512},
        {"36 sectors without device type 9", 0, 0xF8, 36, MediaType::F5_360_512},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(SelectMediaType(row.deviceType, row.mediaDescriptor, row.sectorsPerTrack),
                  row.expected);
    }
}

}  // namespace
