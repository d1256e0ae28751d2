// Tests of key input: decoding of terminal bytes, the terminal mode and its
// restoration, and input that does not come from a terminal.
#include "console/keys.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

std::vector<int> Decode(const std::string& bytes) {
    std::vector<int> keys;
    KeyDecoder decoder{};
    for (char byte : bytes) {
        int key = FeedKeyByte(&decoder, static_cast<std::uint8_t>(byte));
        if (key != kKeyIncomplete) keys.push_back(key);
    }
    if (decoder.sequence != KeySequence::kNone) keys.push_back(FinishKeySequence(&decoder));
    return keys;
}

TEST(KeyDecoding, GivesOneValuePerKey) {
    struct Row {
        const char* name;
        std::string bytes;
        std::vector<int> keys;
    };
    const Row rows[] = {
        {"letters", "sSx", {'s', 'S', 'x'}},
        {"CR and LF are ENTER", "\r\n", {13, 13}},
        {"lone ESC", "\x1b", {27}},
        {"arrow up", "\x1b[A", {0}},
        {"arrow then letter", "\x1b[Bq", {0, 'q'}},
        {"function key F5", "\x1b[15~", {0}},
        {"keypad form", "\x1bOP", {0}},
        {"alt held with a key", "\x1bx", {0}},
        {"cut-off sequence", "\x1b[1;", {0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Decode(row.bytes), row.keys);
    }
}

// Runs the key mode probe on a terminal whose other end the test holds, types
// input once the probe is ready, and gives the terminal mode after it ended.
struct ProbeRun {
    int exitCode = -1;
    int signal = 0;
    std::string output;
    struct termios before {};
    struct termios after {};
};

// Each key string is typed once the probe has answered the one before (the
// key wait discards whatever was typed ahead). A probe still running after
// the keys is ended, so no test can hang.
ProbeRun RunProbe(const char* mode, const std::vector<std::string>& keys) {
    ProbeRun run;
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
    tcgetattr(slave, &run.before);
    pid_t child = fork();
    if (child == 0) {
        setsid();
        dup2(slave, 0);
        dup2(slave, 1);
        close(master);
        close(slave);
        execl(KEY_MODE_PROBE_PATH, KEY_MODE_PROBE_PATH, mode, static_cast<char*>(nullptr));
        _exit(127);
    }
    // Reads until the output holds `count` lines or the time is up.
    auto readLines = [&](std::size_t count, int timeout) {
        struct pollfd ready {};
        ready.fd = master;
        ready.events = POLLIN;
        while (static_cast<std::size_t>(std::count(run.output.begin(), run.output.end(), '\n')) <
                   count &&
               poll(&ready, 1, timeout) > 0) {
            char buffer[256];
            ssize_t count = read(master, buffer, sizeof(buffer));
            if (count <= 0) break;
            run.output.append(buffer, static_cast<std::size_t>(count));
        }
    };
    readLines(1, 5000);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        usleep(20 * 1000);
        ssize_t written = write(master, keys[i].data(), keys[i].size());
        EXPECT_EQ(written, static_cast<ssize_t>(keys[i].size()));
        readLines(i + 2, 5000);
    }
    int status = 0;
    for (int wait = 0; waitpid(child, &status, WNOHANG) == 0; ++wait) {
        if (wait == 500) kill(child, SIGKILL);
        usleep(10 * 1000);
    }
    readLines(1000, 50);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    tcgetattr(slave, &run.after);
    close(master);
    close(slave);
    return run;
}

void ExpectModeRestored(const ProbeRun& run) {
    EXPECT_EQ(run.after.c_lflag, run.before.c_lflag);
    EXPECT_EQ(run.after.c_iflag, run.before.c_iflag);
    EXPECT_EQ(run.after.c_oflag, run.before.c_oflag);
    EXPECT_NE(run.after.c_lflag & ECHO, 0u);
    EXPECT_NE(run.after.c_lflag & ICANON, 0u);
}

TEST(KeyMode, TerminalModeComesBackAfterANormalEnd) {
    ProbeRun run = RunProbe("exit", {});
    EXPECT_NE(run.output.find("ready"), std::string::npos);
    EXPECT_EQ(run.exitCode, 0);
    ExpectModeRestored(run);
}

TEST(KeyMode, TerminalModeComesBackAfterSigint) {
    ProbeRun run = RunProbe("signal", {});
    EXPECT_EQ(run.signal, SIGINT);
    ExpectModeRestored(run);
}

TEST(KeyMode, KeysCountWithoutEnterAndAreNotEchoed) {
    // The probe prints each key's value and stops at ESC.
    ProbeRun withEsc = RunProbe("keys", {"x", "\x1b"});
    EXPECT_NE(withEsc.output.find("key 120"), std::string::npos);
    EXPECT_NE(withEsc.output.find("key 27"), std::string::npos);
    EXPECT_EQ(withEsc.output.find("x\x1b"), std::string::npos);   // no echo
    ExpectModeRestored(withEsc);
}

TEST(KeyMode, ArrowKeysGiveZeroAndEnterGivesThirteen) {
    ProbeRun run = RunProbe("keys", {"\x1b[A", "\r", "q"});
    EXPECT_NE(run.output.find("key 0\r\n"), std::string::npos);
    EXPECT_NE(run.output.find("key 13\r\n"), std::string::npos);
    EXPECT_NE(run.output.find("key 113\r\n"), std::string::npos);
}

TEST(KeyInputWithoutTerminal, PollSeesNothingAndWaitEndsAtEndOfInput) {
    ChildOptions options;
    options.input = "y";
    ChildResult result = RunFunction(
        []() {
            int poll = PollKey();
            int first = WaitForKey();
            int second = WaitForKey();
            std::printf("%d %d %d", poll, first, second);
            std::fflush(stdout);
        },
        options);
    EXPECT_EQ(result.output, "0 121 27");
}

TEST(LineInput, ReadsLinesKeepsTheBeginningOfLongOnesAndEndsAtEndOfInput) {
    ChildOptions options;
    options.input = "yes\n" + std::string(100, 'A') + "\nlast";
    ChildResult result = RunFunction(
        []() {
            char line[8];
            while (ReadInputLine(line, sizeof(line))) std::printf("[%s]", line);
            std::printf("end");
            std::fflush(stdout);
        },
        options);
    EXPECT_EQ(result.output, "[yes][AAAAAAA][last]end");
}

}  // namespace
