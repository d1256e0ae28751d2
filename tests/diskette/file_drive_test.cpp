// Tests of the device operations on file-backed drives: a file stands for
// the diskette in the drive, a missing file for an empty drive.
#include "diskette/device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "console/system_error.h"
#include "console/text.h"
#include "image/byte_order.h"
#include "tests/diskette/drive_helper.h"

namespace {

constexpr std::size_t k360K = 368640;
constexpr std::size_t k720K = 737280;
constexpr std::size_t k144M = 1474560;

// The 36-byte block of an image with the given layout.
DeviceParameterBlock MakeBlock(std::uint16_t sectorsPerTrack, std::uint16_t tracks,
                               std::uint8_t mediaDescriptor, std::uint8_t deviceType) {
    DeviceParameterBlock block{};
    WriteLe16(block.bytesPerSector, 512);
    block.sectorsPerCluster = 1;
    WriteLe16(block.sectorsPerTrack, sectorsPerTrack);
    WriteLe16(block.sides, 2);
    WriteLe16(block.tracks, tracks);
    WriteLe16(block.totalSectors, static_cast<std::uint16_t>(sectorsPerTrack * 2 * tracks));
    block.mediaDescriptor = mediaDescriptor;
    block.deviceType = deviceType;
    return block;
}

// Opens drive T: on a file of the directory; the handle closes with the object.
class FileDrive {
public:
    explicit FileDrive(const std::string& path) : variable_("T:", path) {}
    ~FileDrive() { CloseDiskette(device_); }
    FileDrive(const FileDrive&) = delete;
    FileDrive& operator=(const FileDrive&) = delete;
    std::uint32_t Open() { return OpenDiskette("T:", &device_); }
    void Close() {
        CloseDiskette(device_);
        device_ = nullptr;
    }
    DeviceHandle* device() const { return device_; }

private:
    DriveVariable variable_;
    DeviceHandle* device_ = nullptr;
};

TEST(DrivePaths, NameTheVariableOrTheFloppyDevice) {
    DriveVariable named("B:", "/tmp/b.img");
    DriveVariable empty("C:", "");
    struct Row {
        const char* name;
        const char* driveName;
        std::uint32_t code;
        const char* path;
    };
    const Row rows[] = {
        {"A: without a variable", "A:", 0, "/dev/fd0"},
        {"lower-case letter", "d:", 0, "/dev/fd3"},
        {"variable set", "B:", 0, "/tmp/b.img"},
        {"variable empty", "C:", 0, "/dev/fd2"},
        {"no colon", "A", kErrorInvalidParameter, ""},
        {"three characters", "A:\\", kErrorInvalidParameter, ""},
        {"digit", "1:", kErrorInvalidParameter, ""},
        {"empty", "", kErrorInvalidParameter, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char path[kPathSize] = {};
        EXPECT_EQ(DevicePathForDrive(row.driveName, path, std::size(path)), row.code);
        if (row.code == 0) {
            EXPECT_STREQ(path, row.path);
        }
    }
}

TEST(DrivePaths, RefuseAPathThatDoesNotFit) {
    DriveVariable named("B:", std::string(300, 'x'));
    char path[kPathSize] = {};
    EXPECT_EQ(DevicePathForDrive("B:", path, std::size(path)), kErrorFileNameTooLong);
    EXPECT_FALSE(IsDisketteDrive("B:"));
}

TEST(DisketteDriveQuestion, AcceptsFilesAndMissingFilesInExistingDirectories) {
    TempDirectory directory;
    WriteWholeFile(directory.Path() + "/present.img", std::vector<std::uint8_t>(k720K));
    // /dev/shm is a file system of its own below /dev: files there are files.
    const std::string shared = "/dev/shm/diskette-" + std::to_string(getpid());
    struct stat sharedInfo {};
    const bool hasShared = stat("/dev/shm", &sharedInfo) == 0 && S_ISDIR(sharedInfo.st_mode);
    if (hasShared) WriteWholeFile(shared + ".img", std::vector<std::uint8_t>(k720K));
    struct Row {
        const char* name;
        std::string path;
        bool expected;
    };
    std::vector<Row> rows = {
        {"regular file", directory.Path() + "/present.img", true},
        {"missing file: an empty drive", directory.Path() + "/absent.img", true},
        {"missing directory", directory.Path() + "/none/absent.img", false},
        {"a directory", directory.Path(), false},
        {"a character device", "/dev/null", false},
        {"missing node under /dev", "/dev/no-such-diskette-drive", false},
        {"missing node under //dev", "//dev/no-such-diskette-drive", false},
        {"missing node under /dev/.", "/dev/./no-such-diskette-drive", false},
    };
    if (hasShared) {
        rows.push_back({"regular file in /dev/shm", shared + ".img", true});
        rows.push_back({"missing file in /dev/shm", shared + "-absent.img", true});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DriveVariable variable("T:", row.path);
        EXPECT_EQ(IsDisketteDrive("T:"), row.expected);
    }
    EXPECT_FALSE(IsDisketteDrive("T"));
    if (hasShared) unlink((shared + ".img").c_str());
}

TEST(FileDriveOpen, GivesNotReadyForAMissingFile) {
    TempDirectory directory;
    FileDrive drive(directory.Path() + "/absent.img");
    EXPECT_EQ(drive.Open(), kErrorNotReady);
    EXPECT_EQ(drive.device(), nullptr);
}

TEST(FileDriveOpen, RefusesAPathOutsideAnyDiskette) {
    TempDirectory directory;
    struct Row {
        const char* name;
        std::string path;
        std::uint32_t code;
    };
    const Row rows[] = {
        {"missing directory", directory.Path() + "/none/a.img", kErrorPathNotFound},
        {"a directory", directory.Path(), kErrorBadUnit},
        {"a character device", "/dev/null", kErrorBadUnit},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FileDrive drive(row.path);
        EXPECT_EQ(drive.Open(), row.code);
        EXPECT_EQ(drive.device(), nullptr);
    }
}

TEST(FileDriveOpen, RefusesASecondHolderUntilTheFirstCloses) {
    TempDirectory directory;
    WriteWholeFile(directory.Path() + "/disk.img", std::vector<std::uint8_t>(k720K));
    FileDrive first(directory.Path() + "/disk.img");
    ASSERT_EQ(first.Open(), 0u);
    EXPECT_EQ(SetVolumeLock(first.device(), true), 0u);
    DeviceHandle* second = nullptr;
    EXPECT_EQ(OpenDiskette("T:", &second), kErrorSharingViolation);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(SetVolumeLock(first.device(), false), 0u);
    first.Close();
    EXPECT_EQ(OpenDiskette("T:", &second), 0u);
    CloseDiskette(second);
}

// Opened for reading, a drive file without write permission (a
// write-protected diskette) is read, and nothing can be written through it.
TEST(FileDriveOpen, ReadsAWriteProtectedDiskette) {
    TempDirectory directory;
    const std::string path = directory.Path() + "/disk.img";
    const std::vector<std::uint8_t> bytes = CountingBytes(k720K, 5);
    WriteWholeFile(path, bytes);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    FileDrive drive(path);
    EXPECT_EQ(drive.Open(), kErrorWriteProtect);
    DeviceHandle* device = nullptr;
    ASSERT_EQ(OpenDisketteForReading("T:", &device), 0u);
    std::vector<std::uint8_t> side(9 * 512);
    EXPECT_EQ(ReadTrack(device, side.data(), 1, 0, 9, 512), 0u);
    EXPECT_TRUE(std::equal(side.begin(), side.end(), bytes.begin() + 4608));
    EXPECT_EQ(WriteTrack(device, side.data(), 0, 0, 9, 512), kErrorInvalidHandle);
    CloseDiskette(device);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// A drive file is read in the layout set on it, when it holds that layout:
// a DMF diskette, 80 x 2 x 21 x 512 = 1720320 bytes, but not the 82 tracks
// of the 1.72 MB layout (1763328 bytes). A 180 KB layout (one side) set on
// it addresses track 1 at 1 x 4608.
TEST(FileDriveReadLayout, IsSetWhereTheFileHoldsIt) {
    TempDirectory directory;
    const std::string path = directory.Path() + "/dmf.img";
    const std::vector<std::uint8_t> bytes = CountingBytes(1720320, 7);
    WriteWholeFile(path, bytes);
    FileDrive drive(path);
    ASSERT_EQ(drive.Open(), 0u);
    const DriveGeometry tooLong{2, 82, 21, 512};
    const DriveGeometry noDiskette{2, 80, 65, 512};
    EXPECT_EQ(SetReadLayout(drive.device(), &tooLong), kErrorNotSupported);
    EXPECT_EQ(SetReadLayout(drive.device(), &noDiskette), kErrorInvalidParameter);
    std::vector<std::uint8_t> side(21 * 512);
    const DriveGeometry dmf{2, 80, 21, 512};
    ASSERT_EQ(SetReadLayout(drive.device(), &dmf), 0u);
    ASSERT_EQ(ReadTrack(drive.device(), side.data(), 1, 79, 21, 512), 0u);
    EXPECT_TRUE(std::equal(side.begin(), side.end(), bytes.end() - 21 * 512));
    const DriveGeometry oneSided{1, 40, 9, 512};
    ASSERT_EQ(SetReadLayout(drive.device(), &oneSided), 0u);
    ASSERT_EQ(ReadSector(drive.device(), side.data(), 0, 1, 0, 9, 512), 0u);
    EXPECT_TRUE(std::equal(side.begin(), side.begin() + 512, bytes.begin() + 4608));
}

// A drive file taken out of the drive (removed) or swapped for another one
// is no longer the diskette opened.
TEST(FileDriveChange, IsSeenWhenTheFileIsRemovedOrReplaced) {
    for (const std::string change : {"unchanged", "removed", "replaced"}) {
        SCOPED_TRACE(change);
        TempDirectory directory;
        const std::string path = directory.Path() + "/disk.img";
        WriteWholeFile(path, std::vector<std::uint8_t>(k720K));
        FileDrive drive(path);
        ASSERT_EQ(drive.Open(), 0u);
        if (change != "unchanged") {
            ASSERT_EQ(unlink(path.c_str()), 0);
        }
        if (change == "replaced") WriteWholeFile(path, std::vector<std::uint8_t>(k720K));
        EXPECT_EQ(CheckDisketteUnchanged(drive.device()),
                  change == "unchanged" ? 0u : kErrorNotReady);
    }
}

TEST(FileDriveGeometry, FollowsTheFileSize) {
    TempDirectory directory;
    struct Row {
        const char* name;
        std::size_t byteCount;
        std::uint32_t code;
        DriveGeometry geometry;
    };
    const Row rows[] = {
        {"360 KB: 40 x 2 x 9 x 512", k360K, 0, {2, 40, 9, 512}},
        {"720 KB: 80 x 2 x 9 x 512", k720K, 0, {2, 80, 9, 512}},
        {"1.2 MB: 80 x 2 x 15 x 512", 1228800, 0, {2, 80, 15, 512}},
        {"1.44 MB: 80 x 2 x 18 x 512", k144M, 0, {2, 80, 18, 512}},
        {"2.88 MB: 80 x 2 x 36 x 512", 2949120, 0, {2, 80, 36, 512}},
        {"1.68 MB DMF: 80 x 2 x 21 x 512", 1720320, 0, {2, 80, 21, 512}},
        {"1.72 MB: 82 x 2 x 21 x 512", 1763328, 0, {2, 82, 21, 512}},
        {"empty file", 0, kErrorUnrecognizedMedia, {}},
        {"one byte more than 1.44 MB", k144M + 1, kErrorUnrecognizedMedia, {}},
        {"one sector less than 720 KB", k720K - 512, kErrorUnrecognizedMedia, {}},
        {"160 KB: 40 x 1 x 8 x 512", 163840, 0, {1, 40, 8, 512}},
        {"180 KB: 40 x 1 x 9 x 512", 184320, 0, {1, 40, 9, 512}},
        {"320 KB: 40 x 2 x 8 x 512", 327680, 0, {2, 40, 8, 512}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = directory.Path() + "/disk.img";
        WriteWholeFile(path, std::vector<std::uint8_t>(row.byteCount));
        FileDrive drive(path);
        ASSERT_EQ(drive.Open(), 0u);
        DriveGeometry geometry{};
        EXPECT_EQ(QueryDriveGeometry(drive.device(), &geometry), row.code);
        if (row.code != 0) continue;
        EXPECT_EQ(geometry.heads, row.geometry.heads);
        EXPECT_EQ(geometry.cylinders, row.geometry.cylinders);
        EXPECT_EQ(geometry.sectorsPerTrack, row.geometry.sectorsPerTrack);
        EXPECT_EQ(geometry.bytesPerSector, row.geometry.bytesPerSector);
    }
}

TEST(FileDriveTransfer, PutsEachTrackSideAtItsOffset) {
    TempDirectory directory;
    const std::string path = directory.Path() + "/disk.img";
    const std::vector<std::uint8_t> before = CountingBytes(k720K, 0);
    WriteWholeFile(path, before);
    struct Row {
        const char* name;
        std::uint32_t track;
        std::uint32_t side;
        std::size_t offset;
    };
    const Row rows[] = {
        {"track 0 side 0", 0, 0, 0},
        {"track 0 side 1: 1 x 9 x 512", 0, 1, 4608},
        {"track 1 side 0: 2 x 9 x 512", 1, 0, 9216},
        {"track 79 side 1: 159 x 4608", 79, 1, 732672},
    };
    const std::size_t sideBytes = 9 * 512;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteWholeFile(path, before);
        FileDrive drive(path);
        ASSERT_EQ(drive.Open(), 0u);
        // One byte past a 512-byte boundary: the operations take any buffer.
        std::vector<std::uint8_t> storage(sideBytes + 1);
        std::uint8_t* data = storage.data() + 1;
        for (std::size_t i = 0; i < sideBytes; ++i) data[i] = static_cast<std::uint8_t>(0xA5 ^ i);
        ASSERT_EQ(WriteTrack(drive.device(), data, row.side, row.track, 9, 512), 0u);
        EXPECT_EQ(FlushDiskette(drive.device()), 0u);

        std::vector<std::uint8_t> expected = before;
        std::memcpy(expected.data() + row.offset, data, sideBytes);
        EXPECT_EQ(ReadWholeFile(path), expected);

        std::vector<std::uint8_t> readBack(sideBytes + 1, 0);
        ASSERT_EQ(ReadTrack(drive.device(), readBack.data() + 1, row.side, row.track, 9, 512), 0u);
        EXPECT_EQ(0, std::memcmp(readBack.data() + 1, data, sideBytes));
        // Sector 8 (the track side's last, the diskette's sector 9) lies 8 x 512 further.
        ASSERT_EQ(ReadSector(drive.device(), readBack.data() + 1, row.side, row.track, 8, 9, 512),
                  0u);
        EXPECT_EQ(0, std::memcmp(readBack.data() + 1, data + 4096, 512));
    }
}

TEST(FileDriveTransfer, RefusesRequestsOutsideTheDiskette) {
    TempDirectory directory;
    const std::string path = directory.Path() + "/disk.img";
    const std::vector<std::uint8_t> before = CountingBytes(k360K, 3);
    WriteWholeFile(path, before);
    FileDrive drive(path);
    ASSERT_EQ(drive.Open(), 0u);
    std::vector<std::uint8_t> buffer(kTrackSideBufferSize + 512, 0x11);
    struct Row {
        const char* name;
        std::uint32_t side;
        std::uint32_t track;
        std::uint32_t sectorsPerTrack;
        std::uint32_t bytesPerSector;
        std::uint32_t code;
    };
    const Row rows[] = {
        {"side 2 would overlap the next track", 2, 0, 9, 512, kErrorInvalidParameter},
        {"no sectors", 0, 0, 0, 512, kErrorInvalidParameter},
        {"sector size not a multiple of 512", 0, 0, 9, 500, kErrorInvalidParameter},
        {"track side larger than the buffer: 72 x 512", 0, 0, 72, 512, kErrorInvalidParameter},
        {"track 40 of a 40-track diskette", 0, 40, 9, 512, kErrorSectorNotFound},
        {"last side straddling the end: 10-sector tracks", 1, 39, 10, 512, kErrorSectorNotFound},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(WriteTrack(drive.device(), buffer.data(), row.side, row.track,
                             row.sectorsPerTrack, row.bytesPerSector),
                  row.code);
        EXPECT_EQ(ReadTrack(drive.device(), buffer.data(), row.side, row.track,
                            row.sectorsPerTrack, row.bytesPerSector),
                  row.code);
        EXPECT_EQ(FormatTrack(drive.device(), row.side, row.track, row.sectorsPerTrack,
                              row.bytesPerSector, 0, 0xFD),
                  row.code);
    }
    // A sector past the track side's last; the last sector of the diskette.
    EXPECT_EQ(ReadSector(drive.device(), buffer.data(), 1, 39, 9, 9, 512), kErrorInvalidParameter);
    EXPECT_EQ(ReadSector(drive.device(), buffer.data(), 1, 39, 8, 9, 512), 0u);
    EXPECT_EQ(ReadWholeFile(path), before);   // nothing written, the file has not grown
}

TEST(FileDriveFormat, SizesTheFileAndFillsEachFormattedSide) {
    struct Row {
        const char* name;
        DeviceParameterBlock block;
        std::size_t startSize;
        std::size_t formattedSize;
        std::size_t formattedOffset;   // of track 2, side 0
    };
    // Images often leave the tracks field 0 or wrong: the cylinders are the
    // ones the image reader reads, total sectors / sectors per track / sides.
    DeviceParameterBlock withoutTracks = MakeBlock(9, 0, 0xF9, 2);
    WriteLe16(withoutTracks.totalSectors, 1440);
    DeviceParameterBlock fewerTracks = MakeBlock(18, 80, 0xF0, 0);
    WriteLe16(fewerTracks.tracks, 79);
    // 180 KB, one side: 360 / 9 / 1 = 40 tracks, the file a plain image of
    // them: 40 x 1 x 4608 = 184320, track 2 at 2 x 4608.
    DeviceParameterBlock oneSided = MakeBlock(9, 0, 0xFC, 0);
    WriteLe16(oneSided.sides, 1);
    WriteLe16(oneSided.totalSectors, 360);
    // Two-sided, track 2 side 0 at (2 x 2) x sectors x 512.
    const Row rows[] = {
        {"blank file to 1.44 MB: 80 x 2 x 18 x 512", MakeBlock(18, 80, 0xF0, 0), 0, k144M, 36864},
        {"1.44 MB file to 720 KB", MakeBlock(9, 80, 0xF9, 2), k144M, k720K, 18432},
        {"tracks from the sector count: 1440 / 9 / 2", withoutTracks, 0, k720K, 18432},
        {"tracks field 79, sector count 2880 / 18 / 2 = 80", fewerTracks, 0, k144M, 36864},
        {"one-sided 180 KB", oneSided, 0, 184320, 9216},
        {"40-track 360 KB", MakeBlock(9, 40, 0xFD, 0), k720K, k360K, 18432},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        const std::string path = directory.Path() + "/disk.img";
        const std::vector<std::uint8_t> before = CountingBytes(row.startSize, 1);
        WriteWholeFile(path, before);
        FileDrive drive(path);
        ASSERT_EQ(drive.Open(), 0u);
        ASSERT_EQ(PrepareFormat(drive.device(), row.block), 0u);
        const std::uint16_t sectorsPerTrack = SectorsPerTrack(&row.block);
        ASSERT_EQ(FormatTrack(drive.device(), 0, 2, sectorsPerTrack, 512, row.block.deviceType,
                              row.block.mediaDescriptor),
                  0u);
        const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
        ASSERT_EQ(bytes.size(), row.formattedSize);
        const std::size_t sideBytes = sectorsPerTrack * 512u;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const bool formatted = i >= row.formattedOffset && i < row.formattedOffset + sideBytes;
            if (formatted) {
                ASSERT_EQ(bytes[i], 0xF6) << "offset " << i;
            } else if (i < row.startSize) {
                ASSERT_EQ(bytes[i], before[i]) << "offset " << i;
            } else {
                ASSERT_EQ(bytes[i], 0) << "offset " << i;
            }
        }
        DriveGeometry geometry{};
        EXPECT_EQ(QueryDriveGeometry(drive.device(), &geometry), 0u);
        EXPECT_EQ(geometry.sectorsPerTrack, sectorsPerTrack);
    }
}

TEST(FileDriveFormat, RefusesUnusableLayouts) {
    TempDirectory directory;
    const std::string path = directory.Path() + "/disk.img";
    WriteWholeFile(path, std::vector<std::uint8_t>(k720K));
    FileDrive drive(path);
    ASSERT_EQ(drive.Open(), 0u);
    DeviceParameterBlock noSectors = MakeBlock(0, 80, 0xF0, 0);
    DeviceParameterBlock oddSectorSize = MakeBlock(18, 80, 0xF0, 0);
    WriteLe16(oddSectorSize.bytesPerSector, 256);
    DeviceParameterBlock noTracks = MakeBlock(18, 0, 0xF0, 0);
    DeviceParameterBlock tooManyTracks = MakeBlock(9, 300, 0xF9, 2);
    for (const DeviceParameterBlock& block : {noSectors, oddSectorSize, noTracks, tooManyTracks}) {
        EXPECT_EQ(PrepareFormat(drive.device(), block), kErrorInvalidParameter);
    }
    EXPECT_EQ(ReadWholeFile(path).size(), k720K);

    // Once prepared for 720 KB, a track of another layout is refused.
    ASSERT_EQ(PrepareFormat(drive.device(), MakeBlock(9, 80, 0xF9, 2)), 0u);
    EXPECT_EQ(FormatTrack(drive.device(), 0, 0, 18, 512, 0, 0xF0), kErrorInvalidParameter);
    EXPECT_EQ(FormatTrack(drive.device(), 0, 0, 9, 512, 2, 0xF9), 0u);
}

TEST(FileDriveFirstSector, ReadsTheStartOfTheDiskette) {
    TempDirectory directory;
    const std::string path = directory.Path() + "/disk.img";
    const std::vector<std::uint8_t> bytes = CountingBytes(k720K, 9);
    WriteWholeFile(path, bytes);
    FileDrive drive(path);
    ASSERT_EQ(drive.Open(), 0u);
    std::uint8_t sector[kSectorSize] = {};
    ASSERT_EQ(ReadFirstSector(drive.device(), sector), 0u);
    EXPECT_EQ(0, std::memcmp(sector, bytes.data(), kSectorSize));
}

TEST(FileDriveFirstSector, FailsOnAnEmptyFile) {
    TempDirectory directory;
    const std::string path = directory.Path() + "/blank.img";
    WriteWholeFile(path, {});
    FileDrive drive(path);
    ASSERT_EQ(drive.Open(), 0u);
    std::uint8_t sector[kSectorSize] = {};
    EXPECT_EQ(ReadFirstSector(drive.device(), sector), kErrorUnrecognizedMedia);
}

TEST(FileDriveHandle, RefusesANullHandle) {
    DriveGeometry geometry{};
    std::uint8_t sector[kSectorSize] = {};
    EXPECT_EQ(QueryDriveGeometry(nullptr, &geometry), kErrorInvalidHandle);
    EXPECT_EQ(SetVolumeLock(nullptr, true), kErrorInvalidHandle);
    EXPECT_EQ(ReadFirstSector(nullptr, sector), kErrorInvalidHandle);
    // A track side request that is valid in every other way (1.44 MB layout).
    std::uint8_t track[18 * 512] = {};
    EXPECT_EQ(FormatTrack(nullptr, 0, 0, 18, 512, 0, 0xF0), kErrorInvalidHandle);
    EXPECT_EQ(WriteTrack(nullptr, track, 0, 0, 18, 512), kErrorInvalidHandle);
    EXPECT_EQ(ReadTrack(nullptr, track, 0, 0, 18, 512), kErrorInvalidHandle);
    EXPECT_EQ(FlushDiskette(nullptr), kErrorInvalidHandle);
    EXPECT_EQ(DismountVolume(nullptr, DeviceParameterBlock{}), kErrorInvalidHandle);
    CloseDiskette(nullptr);
}

}  // namespace
