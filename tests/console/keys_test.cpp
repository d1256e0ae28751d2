// Tests of key input: decoding of terminal bytes, the terminal mode and its
// restoration, and input that does not come from a terminal.
#include "console/keys.h"

#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/console/probe_helper.h"
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

// Runs the key mode probe and gives its output, how it ended and the terminal
// mode after it ended. Each key string is typed once the probe has answered
// the one before (the key wait discards whatever was typed ahead).
struct ProbeRun {
    int exitCode = -1;
    int signal = 0;
    std::string output;
    struct termios before {};
    struct termios after {};
};

ProbeRun RunProbe(const char* mode, const std::vector<std::string>& keys) {
    ProbeStart start;
    start.mode = mode;
    Probe probe(start);
    probe.ReadLines(1);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        usleep(20 * 1000);
        probe.Type(keys[i]);
        probe.ReadLines(i + 2);
    }
    probe.Finish();
    ProbeRun run;
    run.exitCode = probe.ExitCode();
    run.signal = probe.EndSignal();
    run.output = probe.Output();
    run.before = probe.Before();
    run.after = probe.Mode();
    return run;
}

void ExpectModeRestored(const ProbeRun& run) { ExpectModeRestored(run.after, run.before); }

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
    // "no" ends in CR LF, whose CR is no part of the line.
    options.input = "yes\nno\r\n" + std::string(100, 'A') + "\nlast";
    ChildResult result = RunFunction(
        []() {
            char line[8];
            while (ReadInputLine(line, sizeof(line))) std::printf("[%s]", line);
            std::printf("end");
            std::fflush(stdout);
        },
        options);
    EXPECT_EQ(result.output, "[yes][no][AAAAAAA][last]end");
}

}  // namespace
