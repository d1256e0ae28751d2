// Tests of the media type selection: the first matching rule wins.
#include "diskette/device.h"
#include "diskette/device_platform.h"

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

// What the format request's media types format: their own sectors per
// track on at most their own cylinders.
TEST(MediaTypeLayout, IsTheMediaTypesOwn) {
    struct Row {
        const char* name;
        MediaType media;
        std::uint32_t sectorsPerTrack;
        std::uint32_t cylinders;
        bool formats;
    };
    const Row rows[] = {
        {"2.88 MB", MediaType::F3_2Pt88_512, 36, 80, true},
        {"1.44 MB", MediaType::F3_1Pt44_512, 18, 80, true},
        {"1.44 MB of 79 tracks", MediaType::F3_1Pt44_512, 18, 79, true},
        {"DMF: 21 sectors", MediaType::F3_1Pt44_512, 21, 80, false},
        {"720 KB", MediaType::F3_720_512, 9, 80, true},
        {"1.2 MB", MediaType::F5_1Pt2_512, 15, 80, true},
        {"360 KB", MediaType::F5_360_512, 9, 40, true},
        {"160 KB: 8 sectors", MediaType::F5_360_512, 8, 40, false},
        {"9 sectors on 80 tracks as 360 KB", MediaType::F5_360_512, 9, 80, false},
        {"1.44 MB of 82 tracks", MediaType::F3_1Pt44_512, 18, 82, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(IsMediaTypeLayout(row.media, row.sectorsPerTrack, row.cylinders), row.formats);
    }
}

}  // namespace
