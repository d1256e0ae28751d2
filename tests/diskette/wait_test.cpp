// Tests of WaitForDiskette on a file-backed drive: a test thread takes the
// file away and brings it back while the wait polls every 500 ms; keys come
// from the test's key queue.
#include "diskette/device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "console/keys.h"
#include "tests/diskette/drive_helper.h"
#include "tests/diskette/key_queue.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t k720K = 737280;

long MillisecondsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class WaitForDisketteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearKeys();
        path_ = directory_.Path() + "/disk.img";
    }
    void Insert() { WriteWholeFile(path_, std::vector<std::uint8_t>(k720K, 0x5A)); }
    void Eject() { std::remove(path_.c_str()); }

    TempDirectory directory_;
    std::string path_;
};

TEST_F(WaitForDisketteTest, TakesADisketteAlreadyInTheDriveAtOnce) {
    Insert();
    DriveVariable drive("W:", path_);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitForDiskette("W:", true, kKeyEsc), 1);
    EXPECT_LT(MillisecondsSince(start), 400);   // no pause of 500 ms
    EXPECT_EQ(PollCount(), 0);
}

TEST_F(WaitForDisketteTest, WaitsForADisketteToBeInserted) {
    DriveVariable drive("W:", path_);
    std::thread user([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        Insert();
    });
    EXPECT_EQ(WaitForDiskette("W:", true, kKeyEsc), 1);
    user.join();
    EXPECT_GE(PollCount(), 1);
}

TEST_F(WaitForDisketteTest, TakesANewDisketteOnlyAfterTheOldOneWasRemoved) {
    Insert();
    DriveVariable drive("W:", path_);
    std::atomic<bool> reinserted{false};
    std::thread user([this, &reinserted] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        Eject();
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        reinserted = true;
        Insert();
    });
    Clock::time_point start = Clock::now();
    EXPECT_EQ(WaitForDiskette("W:", false, kKeyEsc), 1);
    const long waited = MillisecondsSince(start);
    user.join();
    EXPECT_TRUE(reinserted);
    EXPECT_GE(waited, 2000);
    EXPECT_GE(PollCount(), 3);
}

TEST_F(WaitForDisketteTest, EndsWithTheCancelKeyAndIgnoresOtherKeys) {
    struct Row {
        const char* name;
        bool present;
        bool acceptPresent;
    };
    const Row rows[] = {
        {"empty drive", false, true},
        {"the written diskette still in the drive", true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClearKeys();
        if (row.present) Insert(); else Eject();
        DriveVariable drive("W:", path_);
        PushKey('x');
        PushKey(kKeyEnter);
        PushKey(kKeyEsc);
        EXPECT_EQ(WaitForDiskette("W:", row.acceptPresent, kKeyEsc), 0);
        EXPECT_EQ(PollCount(), 3);   // one key per pass
    }
}

}  // namespace
