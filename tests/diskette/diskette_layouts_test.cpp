// Tests of the table of layouts: which drive takes which layout, and with
// which controller values.
#include "diskette/diskette_layouts.h"

#include <gtest/gtest.h>

namespace {

TEST(LayoutTable, GivesEachDriveItsOwnValuesAndRefusesWhatItCannotTake) {
    struct Row {
        const char* name;
        std::uint32_t cylinders;
        std::uint32_t heads;
        std::uint32_t sectorsPerTrack;
        std::uint8_t driveKind;
        std::uint32_t driveTracks;
        bool found;
        std::uint8_t stretch, gap, rate, spec1, formatGap;   // when found
    };
    // The values are the kernel floppy driver's for the same layouts (the
    // qemu test checks the DMF and 2.88 MB ones as the driver holds them).
    const Row rows[] = {
        {"1.72 MB: 82 tracks", 82, 2, 21, kDrive35High, 83, true, 0, 0x25, 0x00, 0xDF, 0x0C},
        {"720 KB in a 1.2 MB drive: 300 kbit/s", 80, 2, 9, kDrive525High, 83, true, 0, 0x23, 0x01, 0xDF, 0x50},
        {"360 KB in a 40-track drive", 40, 2, 9, kDrive525Double, 40, true, 0, 0x2A, 0x02, 0xDF, 0x50},
        {"360 KB in a 1.2 MB drive: double-stepped", 40, 2, 9, kDrive525High, 83, true, 1, 0x23, 0x01, 0xDF, 0x50},
        {"160 KB one-sided in a 1.2 MB drive", 40, 1, 8, kDrive525High, 83, true, 1, 0x23, 0x01, 0xDF, 0x50},
        {"a drive of unknown kind: the first row", 40, 2, 8, kDriveUnknown, 0, true, 0, 0x2A, 0x02, 0xDF, 0x50},
        {"2.88 MB in a 1.44 MB drive", 80, 2, 36, kDrive35High, 83, false, 0, 0, 0, 0, 0},
        {"1.2 MB in a 3.5-inch drive", 80, 2, 15, kDrive35High, 83, false, 0, 0, 0, 0, 0},
        {"1.72 MB in a drive of 80 tracks", 82, 2, 21, kDrive35High, 80, false, 0, 0, 0, 0, 0},
        {"360 KB double-stepped in a 1.2 MB drive of 79 tracks", 40, 2, 9, kDrive525High, 79, false, 0, 0, 0, 0, 0},
        {"21 sectors on 81 tracks: no such layout", 81, 2, 21, kDrive35High, 83, false, 0, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const DisketteLayout* layout =
            FindLayout(row.cylinders, row.heads, row.sectorsPerTrack, row.driveKind, row.driveTracks);
        ASSERT_EQ(layout != nullptr, row.found);
        if (!row.found) continue;
        EXPECT_EQ(layout->stretch, row.stretch);
        EXPECT_EQ(layout->gap, row.gap);
        EXPECT_EQ(layout->rate, row.rate);
        EXPECT_EQ(layout->spec1, row.spec1);
        EXPECT_EQ(layout->formatGap, row.formatGap);
    }
}

}  // namespace
