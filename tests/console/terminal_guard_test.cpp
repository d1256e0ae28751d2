// Tests of the terminal guard through the key mode probe: the terminal's mode
// and colours come back on every signal that ends or stops a program, key
// mode returns when it continues, and ignored signals stay ignored.
#include "console/terminal_guard.h"

#include <signal.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/console/probe_helper.h"

namespace {

TEST(TerminalGuard, EndingSignalsGiveTheModeBackAndEndTheProgramByThemselves) {
    const int signals[] = {SIGQUIT, SIGTERM, SIGHUP};
    for (int signalNumber : signals) {
        SCOPED_TRACE(strsignal(signalNumber));
        ProbeStart start;
        start.mode = "keys";
        Probe probe(start);
        ASSERT_TRUE(probe.ReadUntil("ready"));
        ASSERT_TRUE(probe.WaitForKeyMode());
        probe.Signal(signalNumber);
        probe.Finish();
        EXPECT_EQ(probe.EndSignal(), signalNumber);
        ExpectModeRestored(probe.Mode(), probe.Before());
    }
}

TEST(TerminalGuard, StopGivesTheTerminalBackAndContinueTakesKeyModeAgain) {
    const int signals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
    for (int signalNumber : signals) {
        SCOPED_TRACE(strsignal(signalNumber));
        ProbeStart start;
        start.mode = "colour";
        start.ownSession = false;
        Probe probe(start);
        ASSERT_TRUE(probe.ReadUntil("magenta\r\n"));
        const std::size_t beforeStop = probe.Output().size();
        probe.Signal(signalNumber);
        ASSERT_TRUE(probe.WaitUntilStopped());
        // Stopped: the shell gets its terminal back as it was, colours included.
        ExpectModeRestored(probe.Mode(), probe.Before());
        EXPECT_TRUE(probe.ReadUntil("\x1b[0m", beforeStop));
        probe.Signal(SIGCONT);
        EXPECT_TRUE(probe.WaitForKeyMode());
        // A single key without ENTER counts again.
        EXPECT_TRUE(probe.TypeUntilAnswered("q", "key 113\r\n"));
        probe.Finish();
        EXPECT_EQ(probe.ExitCode(), 0);
        EXPECT_EQ(probe.Output().substr(beforeStop, 4), "\x1b[0m");
        ExpectModeRestored(probe.Mode(), probe.Before());
    }
}

TEST(TerminalGuard, AHangUpIgnoredAtTheStartStaysIgnored) {
    ProbeStart start;
    start.mode = "keys";
    start.ignoreHangup = true;
    Probe probe(start);
    ASSERT_TRUE(probe.ReadUntil("ready"));
    probe.Signal(SIGHUP);
    EXPECT_TRUE(probe.TypeUntilAnswered("q", "key 113"));
    probe.Finish();
    EXPECT_EQ(probe.EndSignal(), 0);
    EXPECT_EQ(probe.ExitCode(), 0);
    ExpectModeRestored(probe.Mode(), probe.Before());
}

// The terminal's output processing shows each LF as CR LF.
TEST(TerminalGuard, ColoursLeftChangedAreResetWhenTheProgramEnds) {
    struct Row {
        const char* name;
        const char* mode;
        int signalNumber;     // 0: the key q ends the probe normally
        const char* lineEnd;  // how the coloured line ends
        const char* after;    // everything written after the coloured line's text
    };
    // 0x5F is bright white on magenta: "\x1b[0;97;45m" before "magenta".
    const Row rows[] = {
        {"left changed, ended by SIGTERM", "colour", SIGTERM, "\r\n", "\r\n\x1b[0m"},
        {"left changed, ended by SIGINT", "colour", SIGINT, "\r\n", "\r\n\x1b[0m"},
        {"left changed, normal end", "colour", 0, "\r\n", "\r\nkey 113\r\n\x1b[0m"},
        {"put back by the program's own text: no second reset", "colour-reset", 0, "\r\n",
         "\x1b[0m\r\nkey 113\r\n"},
        {"a line left open is ended after the reset", "colour-open", SIGTERM, "\r",
         "\r\x1b[0m\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ProbeStart start;
        start.mode = row.mode;
        Probe probe(start);
        ASSERT_TRUE(probe.ReadUntil("\x1b[0;97;45mmagenta"));
        if (row.signalNumber != 0) {
            ASSERT_TRUE(probe.ReadUntil(row.lineEnd, probe.Output().find("magenta")));
            // The probe notes an ended line only once the write just seen has
            // returned (a signal before that costs one empty line at most).
            usleep(100 * 1000);
            probe.Signal(row.signalNumber);
        } else {
            EXPECT_TRUE(probe.TypeUntilAnswered("q", "key 113"));
        }
        probe.Finish();
        EXPECT_EQ(probe.EndSignal(), row.signalNumber);
        const std::size_t text = probe.Output().find("magenta") + std::string("magenta").size();
        EXPECT_EQ(probe.Output().substr(text), row.after);
    }
}

}  // namespace
