// Tests of WriteDiskette on the scripted drive: the order of the device
// steps, the messages and their flags and codes, what reaches the diskette,
// the progress words, cancellation and retries.
#include "diskette/write_pipeline.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "console/keys.h"
#include "console/system_error.h"
#include "tests/pipeline/pipeline_helper.h"
#include "tests/pipeline/scripted_device.h"
#include "tests/support/process.h"

namespace {

using Lines = std::vector<std::string>;

constexpr const char* kWritten = "Diskette successfully created";
const std::string kRefusal =
    "message 0x20000 0 Disks with such different formats can not copied!\r\n"
    "If you still want to do that, you must select the option 'Format target disk'.";

DriveScript ScriptWithGeometry(DriveGeometry geometry) {
    DriveScript script;
    script.geometry = geometry;
    return script;
}

// A drive holding a diskette of the given geometry on which one step fails.
void ResetFailingDrive(DriveGeometry geometry, const DriveFailure& failure) {
    DriveScript script = ScriptWithGeometry(geometry);
    script.failures.push_back(failure);
    ResetDrive(script);
}

// The last lines of the log, as many as expected holds.
Lines LogTail(std::size_t count) {
    Lines lines = DriveLogLines();
    if (lines.size() <= count) return lines;
    return Lines(lines.end() - static_cast<std::ptrdiff_t>(count), lines.end());
}

bool Contains(const std::vector<std::string>& words, const std::string& word) {
    for (const std::string& each : words) {
        if (each == word) return true;
    }
    return false;
}

TEST(WriteDiskette, WritesEveryUsedTrackSideInOrderAndReportsSuccess) {
    // 2 tracks x 2 sides x 9 sectors onto a diskette of that format.
    TestImage image({2, 2, 9});
    image.record.verify = true;
    ResetDrive(ScriptWithGeometry({2, 40, 9, 512}));
    WriteOutcome outcome = RunWriteDiskette(&image);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(DriveLogLines(),
              (Lines{"open A:", "geometry", "lock", "write 0/0", "read 0/0", "write 0/1",
                     "read 0/1", "write 1/0", "read 1/0", "write 1/1", "read 1/1", "flush",
                     "dismount", "unlock", "close"}));
    EXPECT_EQ(outcome.words, (Lines{"Write", "Verify", "Write", "Verify", "Write", "Verify",
                                    "Write", "Verify", kWritten}));
    EXPECT_EQ(PollCount(), 2);   // once per track
    EXPECT_EQ(OpenHandleCount(), 0);
    // Track side i of 4 completes (i + 1) x 25 per cent: cells 6, 12, 18 and
    // none (100 per cent). The reader's event for track side 1 had put a
    // light shade into cell 12; writing paints full blocks.
    const std::string open5(5, '\xFE');
    EXPECT_EQ(outcome.bars.back(),
              "[" + open5 + "\xDB" + open5 + "\xDB" + open5 + "\xDB" + open5 + "]");
    for (const DriveCall& call : DriveCalls()) {
        if (call.name != "write" && call.name != "read") continue;
        EXPECT_EQ(call.sectorsPerTrack, 9u);
        EXPECT_EQ(call.bytesPerSector, 512u);
    }
}

TEST(WriteDiskette, PutsEachImageTrackSideOntoItsDeviceTrackSide) {
    // The image holds track side i = track x sides + side at i x bytes per
    // track; the device is addressed as two-sided, track x 2 + side.
    struct Row {
        const char* name;
        std::uint16_t sides;
        std::vector<std::uint32_t> deviceIndexes;   // of image track sides 0, 1, 2, ...
    };
    const Row rows[] = {
        {"two-sided: the same numbering", 2, {0, 1, 2, 3, 4, 5}},
        {"one-sided: side 0 of each track", 1, {0, 2, 4}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image({3, row.sides, 9});
        image.record.verify = true;
        ResetDrive(ScriptWithGeometry({2, 80, 9, 512}));
        EXPECT_EQ(RunWriteDiskette(&image).result, 1);
        ASSERT_EQ(DriveContents().size(), row.deviceIndexes.size());
        for (std::size_t i = 0; i < row.deviceIndexes.size(); ++i) {
            auto found = DriveContents().find(row.deviceIndexes[i]);
            ASSERT_NE(found, DriveContents().end()) << "image track side " << i;
            EXPECT_EQ(found->second, image.TrackSide(i)) << "image track side " << i;
        }
    }
}

TEST(WriteDiskette, FailuresBeforeTheTrackLoopCloseWithoutDismountOrUnlock) {
    struct Row {
        const char* name;
        bool format;
        std::uint16_t imageSectorsPerTrack;
        DriveFailure failure;
        Lines log;
    };
    const DriveFailure none{DriveStep::kDismount, 0, kAnyTrack, kAnyTrack, 0};
    const Row rows[] = {
        {"the drive cannot be opened", false, 9, {DriveStep::kOpen, kErrorNotReady},
         {"open A: = 21", "message 0x10000 21 'A:' could not be accessed."}},
        {"the geometry cannot be determined", false, 9,
         {DriveStep::kGeometry, kErrorUnrecognizedMedia},
         {"open A:", "geometry = 1785",
          "message 0x10000 1785 Device parameters of the disk in 'A:' could not be determined.",
          "close"}},
        {"an 18-sector image for a 9-sector diskette", false, 18, none,
         {"open A:", "geometry", kRefusal, "close"}},
        {"the volume cannot be locked", false, 9, {DriveStep::kLock, kErrorAccessDenied},
         {"open A:", "geometry", "lock = 5", "message 0x10000 5 'A:' could not be locked.",
          "close"}},
        {"formatting cannot be initialized", true, 9, {DriveStep::kPrepare, kErrorNotSupported},
         {"open A:", "lock", "prepare = 50",
          "message 0x10000 50 Formatting of the disk in 'A:' could not be initialized.",
          "close"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image({2, 2, row.imageSectorsPerTrack});
        image.record.format = row.format;
        image.record.verify = true;
        ResetFailingDrive({2, 80, 9, 512}, row.failure);
        WriteOutcome outcome = RunWriteDiskette(&image);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(DriveLogLines(), row.log);
        EXPECT_TRUE(DriveContents().empty());
        EXPECT_EQ(PollCount(), 0);
        EXPECT_EQ(OpenHandleCount(), 0);
        EXPECT_EQ(outcome.output, "");
    }
}

TEST(WriteDiskette, FailuresInsideTheTrackLoopStillDismountUnlockAndClose) {
    // 5 tracks x 2 sides, written and verified; each row fails one step and
    // the loop ends there, after the key poll of that track.
    struct Row {
        const char* name;
        bool format;
        DriveFailure failure;
        Lines tail;                    // the log from the failing step on
        std::size_t writeCount;
        int pollCount;
    };
    const Row rows[] = {
        {"a write fails on the first track's second side", false,
         {DriveStep::kWrite, kErrorWriteFault, 0, 1},
         {"write 0/1 = 29", "message 0x10000 29 Write error on track no. 1, side 1.",
          "flush", "dismount", "unlock", "close"},
         2, 1},
        {"a format fails", true, {DriveStep::kFormat, kErrorGeneralFailure, 2, 0},
         {"format 2/0 = 31", "message 0x10000 31 Formatting error on track no. 3, side 0.",
          "flush", "dismount", "unlock", "close"},
         4, 3},
        {"a read-back fails", false, {DriveStep::kRead, kErrorCrc, 1, 0},
         {"read 1/0 = 23", "message 0x10000 23 Check error on track no. 2, side 0.",
          "flush", "dismount", "unlock", "close"},
         3, 2},
        {"a read-back differs on track 3 side 1 (from 0)", false,
         {DriveStep::kReadDiffers, 1, 3, 1},
         {"read 3/1", "message 0x10000 0 Check error on track no. 4, side 1.", "flush",
          "dismount", "unlock", "close"},
         8, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image({5, 2, 9});
        image.record.format = row.format;
        image.record.verify = true;
        ResetFailingDrive({2, 80, 9, 512}, row.failure);
        WriteOutcome outcome = RunWriteDiskette(&image);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(LogTail(row.tail.size()), row.tail);
        EXPECT_EQ(DriveLogLines("write").size(), row.writeCount);
        EXPECT_EQ(DriveLogLines("message").size(), 1u);
        EXPECT_EQ(PollCount(), row.pollCount);
        EXPECT_EQ(OpenHandleCount(), 0);
        EXPECT_FALSE(Contains(outcome.words, kWritten));
    }
}

TEST(WriteDiskette, AFailedUnlockFailsTheDisketteAndAFailedDismountIsSilent) {
    // Both come after every track side was written.
    struct Row {
        const char* name;
        DriveFailure failure;
        int result;
        Lines tail;
    };
    const Row rows[] = {
        {"unlock fails", {DriveStep::kUnlock, kErrorAccessDenied}, 0,
         {"write 1/1", "flush", "dismount", "unlock = 5",
          "message 0x10000 5 'A:' could not be unlocked.", "close"}},
        {"dismount fails", {DriveStep::kDismount, kErrorGeneralFailure}, 1,
         {"write 1/1", "flush", "dismount = 31", "unlock", "close"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image({2, 2, 9});
        ResetFailingDrive({2, 80, 9, 512}, row.failure);
        WriteOutcome outcome = RunWriteDiskette(&image);
        EXPECT_EQ(outcome.result, row.result);
        EXPECT_EQ(LogTail(row.tail.size()), row.tail);
        EXPECT_EQ(DriveContents().size(), 4u);
        EXPECT_EQ(Contains(outcome.words, kWritten), row.result == 1);
    }
}

TEST(WriteDiskette, ChecksSectorsBytesCylindersAndThatTheSidesSuffice) {
    struct Row {
        const char* name;
        ImageShape image;
        DriveGeometry drive;
        bool accepted;
    };
    const Row rows[] = {
        {"80 tracks, 80 cylinders", {80, 2, 18}, {2, 80, 18, 512}, true},
        {"80 tracks, 81 cylinders", {80, 2, 18}, {2, 81, 18, 512}, true},
        {"81 tracks, 80 cylinders", {81, 2, 18}, {2, 80, 18, 512}, false},
        {"18 sectors onto 9", {80, 2, 18}, {2, 80, 9, 512}, false},
        {"9 sectors onto 18", {80, 2, 9}, {2, 80, 18, 512}, false},
        {"1024-byte sectors onto 512", {40, 2, 9, 1024}, {2, 80, 9, 512}, false},
        {"one-sided image, two-sided diskette", {40, 1, 9}, {2, 40, 9, 512}, true},
        {"two-sided image, one-sided diskette", {40, 2, 9}, {1, 40, 9, 512}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image(row.image);
        ResetDrive(ScriptWithGeometry(row.drive));
        WriteOutcome outcome = RunWriteDiskette(&image);
        EXPECT_EQ(outcome.result, row.accepted ? 1 : 0);
        if (row.accepted) {
            EXPECT_EQ(DriveLogLines("lock").size(), 1u);
            EXPECT_TRUE(DriveLogLines("message").empty());
        } else {
            EXPECT_EQ(DriveLogLines(), (Lines{"open A:", "geometry", kRefusal, "close"}));
        }
    }
}

TEST(WriteDiskette, FormattingAsksNoGeometryAndWritesOnlyTheUsedTrackSides) {
    // 3 tracks x 2 sides; track sides 0 (0/0) and 3 (1/1) hold data.
    TestImage image({3, 2, 9, 512, 0xF9, 2});
    image.map = {0xFF, 0, 0, 0xFF, 0, 0};
    image.record.format = true;
    ResetDrive(ScriptWithGeometry({0, 0, 0, 0}));   // a diskette of no known format
    WriteOutcome outcome = RunWriteDiskette(&image);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(DriveLogLines(),
              (Lines{"open A:", "lock", "prepare", "format 0/0", "write 0/0", "format 0/1",
                     "format 1/0", "format 1/1", "write 1/1", "format 2/0", "format 2/1",
                     "flush", "dismount", "unlock", "close"}));
    EXPECT_EQ(outcome.words, (Lines{"Format", "Write", "Format", "Format", "Format", "Write",
                                    "Format", "Format", kWritten}));
    for (const DriveCall& call : DriveCalls()) {
        if (call.name != "format") continue;
        EXPECT_EQ(call.sectorsPerTrack, 9u);
        EXPECT_EQ(call.bytesPerSector, 512u);
        EXPECT_EQ(call.deviceType, 2);
        EXPECT_EQ(call.mediaDescriptor, 0xF9);
    }
    // An unused track side keeps what the format left: 0xF6 throughout.
    EXPECT_EQ(DriveContents().at(2), std::vector<std::uint8_t>(9 * 512, 0xF6));
    EXPECT_EQ(DriveContents().at(3), image.TrackSide(3));
}

TEST(WriteDiskette, SkipsUnusedTrackSidesUnlessAllAreToBeWritten) {
    // 2 tracks x 2 sides; track sides 1 (0/1) and 2 (1/0) hold data. Any
    // map byte but 0xFF marks a track side unused.
    struct Row {
        const char* name;
        std::int32_t skipUnused;
        bool verify;
        Lines transfers;    // writes and reads in order
        Lines words;
    };
    const Row rows[] = {
        {"used only, verified", 1, true,
         {"write 0/1", "read 0/1", "write 1/0", "read 1/0"},
         {"Unused track", "Write", "Verify", "Write", "Verify", "Unused track", kWritten}},
        {"used only, not verified", 1, false, {"write 0/1", "write 1/0"},
         {"Unused track", "Write", "Write", "Unused track", kWritten}},
        {"all (/A), verified", 0, true,
         {"write 0/0", "read 0/0", "write 0/1", "read 0/1", "write 1/0", "read 1/0",
          "write 1/1", "read 1/1"},
         {"Write", "Verify", "Write", "Verify", "Write", "Verify", "Write", "Verify", kWritten}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image({2, 2, 9});
        image.map = {0, 0xFF, 0xFF, 0x01};
        image.record.skipUnused = row.skipUnused;
        image.record.verify = row.verify;
        ResetDrive(ScriptWithGeometry({2, 80, 9, 512}));
        WriteOutcome outcome = RunWriteDiskette(&image);
        EXPECT_EQ(outcome.result, 1);
        Lines transfers;
        for (const std::string& line : DriveLogLines()) {
            if (line.rfind("write", 0) == 0 || line.rfind("read", 0) == 0) transfers.push_back(line);
        }
        EXPECT_EQ(transfers, row.transfers);
        EXPECT_EQ(outcome.words, row.words);
    }
}

TEST(WriteDiskette, EscDuringATrackCancelsAfterItsLastSide) {
    // ESC pressed while track 10 is written: both its sides are finished,
    // then the poll after it cancels.
    TestImage image({12, 2, 9});
    DriveScript script = ScriptWithGeometry({2, 80, 9, 512});
    script.keys.push_back({10, 0, kKeyEsc});
    ResetDrive(script);
    WriteOutcome outcome = RunWriteDiskette(&image);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(DriveLogLines("write").size(), 22u);   // tracks 0 to 10, two sides each
    EXPECT_EQ(LogTail(6), (Lines{"write 10/1", "message 0x10000 0 Process canceled.",
                                 "flush", "dismount", "unlock", "close"}));
    EXPECT_EQ(PollCount(), 11);
    EXPECT_EQ(OpenHandleCount(), 0);
    EXPECT_FALSE(Contains(outcome.words, kWritten));
}

TEST(WriteDiskette, OtherKeysDoNotCancel) {
    TestImage image({3, 2, 9});
    DriveScript script = ScriptWithGeometry({2, 80, 9, 512});
    script.keys.push_back({0, 0, 'x'});
    script.keys.push_back({1, 1, kKeyEnter});
    ResetDrive(script);
    EXPECT_EQ(RunWriteDiskette(&image).result, 1);
    EXPECT_EQ(DriveLogLines("write").size(), 6u);
}

TEST(WriteDiskette, TriesEachDeviceStepOnceMoreForEachRetry) {
    // Every row fails its step every time: it is tried 1 + retry count times,
    // then reported once. The drive is opened once whatever the count.
    struct Row {
        const char* name;
        DriveStep step;
        const char* callName;
        bool format;
        std::uint32_t retryCount;
        std::size_t attempts;
    };
    const Row rows[] = {
        {"open, no retry", DriveStep::kOpen, "open", false, 0, 1},
        {"open, 2 retries", DriveStep::kOpen, "open", false, 2, 1},
        {"geometry, no retry", DriveStep::kGeometry, "geometry", false, 0, 1},
        {"geometry, 2 retries", DriveStep::kGeometry, "geometry", false, 2, 3},
        {"lock, 2 retries", DriveStep::kLock, "lock", false, 2, 3},
        {"prepare, 2 retries", DriveStep::kPrepare, "prepare", true, 2, 3},
        {"format, no retry", DriveStep::kFormat, "format", true, 0, 1},
        {"format, 2 retries", DriveStep::kFormat, "format", true, 2, 3},
        {"write, no retry", DriveStep::kWrite, "write", false, 0, 1},
        {"write, 2 retries", DriveStep::kWrite, "write", false, 2, 3},
        {"read, no retry", DriveStep::kRead, "read", false, 0, 1},
        {"read, 2 retries", DriveStep::kRead, "read", false, 2, 3},
        {"flush, 2 retries", DriveStep::kFlush, "flush", false, 2, 3},
        {"dismount, no retry", DriveStep::kDismount, "dismount", false, 0, 1},
        {"dismount, 2 retries", DriveStep::kDismount, "dismount", false, 2, 3},
        {"unlock, no retry", DriveStep::kUnlock, "unlock", false, 0, 1},
        {"unlock, 2 retries", DriveStep::kUnlock, "unlock", false, 2, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image({1, 1, 9});
        image.record.format = row.format;
        image.record.verify = true;
        image.record.retryCount = row.retryCount;
        ResetFailingDrive({2, 80, 9, 512}, {row.step, kErrorGeneralFailure});
        WriteOutcome outcome = RunWriteDiskette(&image);
        EXPECT_EQ(DriveLogLines(row.callName).size(), row.attempts);
        const std::size_t messages = row.step == DriveStep::kDismount ? 0 : 1;
        EXPECT_EQ(DriveLogLines("message").size(), messages);
        EXPECT_EQ(outcome.result, row.step == DriveStep::kDismount ? 1 : 0);
    }
}

TEST(WriteDiskette, AStepThatSucceedsOnARetryIsNoFailure) {
    TestImage image({2, 2, 9});
    image.record.retryCount = 2;
    ResetFailingDrive({2, 80, 9, 512}, {DriveStep::kWrite, kErrorWriteFault, 1, 0, 2});
    WriteOutcome outcome = RunWriteDiskette(&image);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(DriveLogLines("write"), (Lines{"write 0/0", "write 0/1", "write 1/0 = 29",
                                             "write 1/0 = 29", "write 1/0", "write 1/1"}));
    EXPECT_TRUE(DriveLogLines("message").empty());
    EXPECT_EQ(DriveContents().at(2), image.TrackSide(2));
}

TEST(WriteDiskette, RefusesARecordItCannotWriteBeforeTouchingTheDrive) {
    struct Row {
        const char* name;
        std::uint32_t trackCount;
        std::uint16_t sides;
        bool buffers;
    };
    const Row rows[] = {
        {"no tracks", 0, 2, true},
        {"no sides", 2, 0, true},
        {"no buffers", 2, 2, false},
        {"more tracks than the block describes", 3, 2, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image({2, 2, 9});
        image.record.trackCount = row.trackCount;
        WriteLe16(image.record.parameters.sides, row.sides);
        if (!row.buffers) {
            image.record.imageBuffer = nullptr;
            image.record.usedTrackMap = nullptr;
        }
        ResetDrive(DriveScript{});
        ClearKeys();
        int result = -1;
        std::string output = CaptureOutput([&] { result = WriteDiskette(&image.record); });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(DriveLogLines(),
                  (Lines{"message 0x10000 0 'test.img' contains image data which can not be "
                         "handled."}));
        EXPECT_EQ(output, "");
        EXPECT_EQ(PollCount(), 0);
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED_BUILD 1
#endif
#endif

#ifndef SANITIZED_BUILD
// Bytes of address space the process uses now.
std::uint64_t AddressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}
#endif

TEST(WriteDiskette, WithoutMemoryForTheVerificationLeavesTheDriveUntouched) {
#ifdef SANITIZED_BUILD
    GTEST_SKIP() << "the sanitizer's allocator ends the process instead of failing";
#else
    // 65535 sectors of 65535 bytes on one track side: about 4 GB for the
    // verification buffer, which a child limited to 256 MB more address
    // space than it uses cannot get. The image buffer itself is never read.
    TestImage image({1, 1, 9});
    DeviceParameterBlock* block = &image.record.parameters;
    WriteLe16(block->bytesPerSector, 65535);
    WriteLe16(block->sectorsPerTrack, 65535);
    WriteLe16(block->totalSectors, 65535);
    ChildResult child = RunFunction(
        [&image] {
            ResetDrive(DriveScript{});
            const std::uint64_t limit = AddressSpaceInUse() + (256u << 20);
            struct rlimit addressSpace {limit, limit};
            if (setrlimit(RLIMIT_AS, &addressSpace) != 0) _exit(2);
            std::printf("%d\n", WriteDiskette(&image.record));
            for (const std::string& line : DriveLogLines()) std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        },
        ChildOptions{});
    EXPECT_EQ(child.exitCode, 0);
    EXPECT_EQ(child.output, "0\nmessage 0x10000 0 Not enough memory.\n");
#endif
}

}  // namespace
