// Tests of WaitForDiskette on the scripted drive: which open results end the
// wait, and when. The drive keeps no count of diskette changes, so only an
// empty drive seen tells that the diskette was changed.
#include "diskette/device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/keys.h"
#include "console/system_error.h"
#include "tests/diskette/key_queue.h"
#include "tests/pipeline/scripted_device.h"

namespace {

using Lines = std::vector<std::string>;

TEST(WaitForDiskette, AcceptsAWriteProtectedDisketteLikeAnyOther) {
    struct Row {
        const char* name;
        bool acceptPresent;
        std::vector<DriveFailure> opens;   // the results of the opens, in order
        int result;
        Lines log;
    };
    const Row rows[] = {
        {"first diskette, write-protected: taken at once", true,
         {{DriveStep::kOpen, kErrorWriteProtect}},
         1, {"open A: = 19"}},
        {"next diskette: the written one, then the drive empty, then a protected one", false,
         {{DriveStep::kOpen, kErrorWriteProtect, kAnyTrack, kAnyTrack, 2},
          {DriveStep::kOpen, kErrorNotReady, kAnyTrack, kAnyTrack, 1},
          {DriveStep::kOpen, kErrorWriteProtect, kAnyTrack, kAnyTrack, 1}},
         1,
         {"open A: = 19", "pause 500", "open A: = 19", "pause 500", "open A: = 21", "pause 500",
          "open A: = 19"}},
        {"next diskette: the drive empty, then a readable one", false,
         {{DriveStep::kOpen, kErrorNotReady, kAnyTrack, kAnyTrack, 1}},
         1,
         {"open A: = 21", "pause 500", "open A:", "lock", "first sector", "unlock", "close"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DriveScript script;
        script.failures = row.opens;
        ResetDrive(script);
        ClearKeys();
        EXPECT_EQ(WaitForDiskette("A:", row.acceptPresent, kKeyEsc), row.result);
        EXPECT_EQ(DriveLogLines(), row.log);
        EXPECT_EQ(PollCount(), static_cast<int>(DriveLogLines("pause").size()));
        EXPECT_EQ(OpenHandleCount(), 0);
    }
}

TEST(WaitForDiskette, KeepsWaitingWhileTheWrittenDisketteStaysInTheDrive) {
    // Never empty: only ESC ends the wait, pushed by the drive after
    // kPauseLimit pauses.
    DriveScript script;
    script.failures = {{DriveStep::kOpen, kErrorWriteProtect}};
    ResetDrive(script);
    ClearKeys();
    EXPECT_EQ(WaitForDiskette("A:", false, kKeyEsc), 0);
    EXPECT_EQ(DriveLogLines("pause").size(), static_cast<std::size_t>(kPauseLimit));
    EXPECT_EQ(DriveLogLines("open").size(), static_cast<std::size_t>(kPauseLimit) + 1);
}

}  // namespace
