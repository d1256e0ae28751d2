// Tests of key input: decoding of terminal bytes, the terminal mode and its
// restoration, and input that does not come from a terminal.
#include "console/keys.h"

#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
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

// A hung-up terminal (its other side closed) ends the key wait without a
// key: the probe says so with exit code 3.
TEST(KeyMode, AHungUpTerminalEndsTheWaitWithoutAKey) {
    ProbeStart start;
    start.mode = "wait";
    start.ignoreHangup = true;
    Probe probe(start);
    ASSERT_TRUE(probe.ReadUntil("ready"));
    ASSERT_TRUE(probe.WaitForKeyMode());
    probe.HangUp();
    probe.Finish();
    EXPECT_EQ(probe.ExitCode(), 3);
}

// Standard input is a pipe: the poll sees nothing, each byte is a key. Each
// piece goes into the pipe, left open, just before one key wait (a wait that
// looked for a LF after a CR would block there, until the alarm); the keys
// left are read after the pipe has been closed.
TEST(KeyInputWithoutTerminal, EachByteIsAKeyCrLfIsOneEnterAndTheEndIsNoKey) {
    struct Row {
        const char* name;
        std::vector<std::string> pieces;
        const char* keys;
    };
    const Row rows[] = {
        {"a letter, then the end of input", {"y"}, "0 121 -2"},
        {"a lone CR answers at once; the LF of its CR LF is dropped later", {"\r", "\nx"},
         "0 13 120 -2"},
        {"LF alone is ENTER, each time", {"\n\n"}, "0 13 13 -2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ChildResult result = RunFunction(
            [&row]() {
                int feed[2];
                if (pipe(feed) != 0 || dup2(feed[0], 0) < 0) return;
                alarm(5);
                std::string keys = std::to_string(PollKey());
                for (const std::string& piece : row.pieces) {
                    WriteAllTo(feed[1], piece);
                    keys += " " + std::to_string(WaitForKey());
                }
                close(feed[1]);
                for (int key = 0; key != kKeyEndOfInput && keys.size() < 20;) {
                    key = WaitForKey();
                    keys += " " + std::to_string(key);
                }
                std::printf("%s", keys.c_str());
                std::fflush(stdout);
            },
            ChildOptions{});
        EXPECT_EQ(result.output, row.keys);
    }
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
