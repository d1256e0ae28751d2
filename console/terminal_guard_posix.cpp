// terminal_guard_posix.cpp - an exit routine and signal handlers that give the
// terminal back: "\x1b[0m" on the console writer's terminal (descriptor 1 or
// 2) when the program changed its colours, and before an ending signal a line
// end when its line was left open; the saved termios on descriptor 0 when it
// took key mode. The
// handlers read only sig_atomic_t flags and termios records written before
// their flag was set, and call only async-signal-safe functions. The records
// are plain memory: a release fence before the flag is set and an acquire
// fence after a handler has seen it keep the compiler from moving their
// stores past the flag, so a handler never reads a half-written record.
#include "console/terminal_guard.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <iterator>

static volatile sig_atomic_t guardInstalled = 0;
static volatile sig_atomic_t outputDescriptor = 1;   // the console writer's terminal
static volatile sig_atomic_t coloursChanged = 0;
static volatile sig_atomic_t lineOpen = 0;
static volatile sig_atomic_t keyModeTaken = 0;   // savedMode and keyMode are valid
static struct termios savedMode;                  // the terminal's mode before key mode
static struct termios keyMode;

static constexpr char kColourReset[] = "\x1b[0m";

// Signals whose default action ends the process, and those whose default
// action stops it (the terminal's stop key, and a background job that reads
// from the terminal or changes its mode).
static constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
static constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// False when standard input is the controlling terminal and another process
// group is in its foreground: the program then runs as a background job, and
// the terminal's mode belongs to the shell or to the foreground job (a
// background job that set it would change their mode, or be stopped for it).
static bool IsTerminalOurs() {
    const pid_t foreground = tcgetpgrp(0);
    return foreground == -1 || foreground == getpgrp();
}

// True when key mode was taken; savedMode and keyMode may then be read.
static bool IsKeyModeTaken() {
    if (!keyModeTaken) return false;
    std::atomic_signal_fence(std::memory_order_acquire);
    return true;
}

// endLine: the program ends here, and a line left open is ended (a stopped
// program that continues goes on where it stood).
static void GiveTerminalBack(bool endLine) {
    // Nothing more can be done for a terminal that refuses these writes.
    if (coloursChanged) {
        const ssize_t written =
            write(outputDescriptor, kColourReset, std::size(kColourReset) - 1);
        (void)written;
    }
    if (endLine && lineOpen) {
        const ssize_t written = write(outputDescriptor, "\n", 1);
        (void)written;
    }
    if (IsKeyModeTaken() && IsTerminalOurs()) tcsetattr(0, TCSANOW, &savedMode);
}

static void TakeKeyModeAgain() {
    if (IsKeyModeTaken() && IsTerminalOurs()) tcsetattr(0, TCSANOW, &keyMode);
}

static void FillGuardedSignals(sigset_t* set) {
    sigemptyset(set);
    for (int signalNumber : kEndingSignals) sigaddset(set, signalNumber);
    for (int signalNumber : kStopSignals) sigaddset(set, signalNumber);
    sigaddset(set, SIGCONT);
}

// Every handler runs with all the guarded signals blocked, so that no handler
// interrupts another; interrupted reads and writes go on (SA_RESTART).
static void SetHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    FillGuardedSignals(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

// Lets the signal being handled take its default action at once, from inside
// its handler: it is raised again while still blocked, then unblocked.
static void TakeDefaultAction(int signalNumber) {
    SetHandler(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    raise(signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

static void EndAfterGivingBack(int signalNumber) {
    GiveTerminalBack(true);
    TakeDefaultAction(signalNumber);   // the process ends here
}

static void StopAfterGivingBack(int signalNumber) {
    const int savedErrno = errno;
    GiveTerminalBack(false);
    TakeDefaultAction(signalNumber);
    // Continued; or never stopped, since the kernel discards these signals
    // for a process group without a parent in the session (an orphaned job).
    SetHandler(signalNumber, StopAfterGivingBack);
    TakeKeyModeAgain();
    errno = savedErrno;
}

// Also after a stop that no handler saw (SIGSTOP), or a shell that set its own
// mode while the program was stopped.
static void ContinueInKeyMode(int) {
    const int savedErrno = errno;
    TakeKeyModeAgain();
    errno = savedErrno;
}

static void GiveTerminalBackAtExit() {
    sigset_t guarded;
    sigset_t previous;
    FillGuardedSignals(&guarded);
    sigprocmask(SIG_BLOCK, &guarded, &previous);
    GiveTerminalBack(false);
    keyModeTaken = 0;   // a signal still to come finds nothing to give back
    coloursChanged = 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

static void InstallUnlessIgnored(int signalNumber, void (*handler)(int)) {
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) != 0) return;
    if (current.sa_handler == SIG_IGN) return;
    SetHandler(signalNumber, handler);
}

void GuardTerminal() {
    if (guardInstalled) return;
    guardInstalled = 1;
    std::atexit(GiveTerminalBackAtExit);
    for (int signalNumber : kEndingSignals) InstallUnlessIgnored(signalNumber, EndAfterGivingBack);
    for (int signalNumber : kStopSignals) InstallUnlessIgnored(signalNumber, StopAfterGivingBack);
    InstallUnlessIgnored(SIGCONT, ContinueInKeyMode);
}

void NoteTerminalDescriptor(int descriptor) { outputDescriptor = descriptor; }

void NoteTerminalColours(bool changed) { coloursChanged = changed ? 1 : 0; }

void NoteTerminalLineOpen(bool open) { lineOpen = open ? 1 : 0; }

void EnterTerminalKeyMode() {
    if (keyModeTaken || isatty(0) != 1) return;
    GuardTerminal();
    if (tcgetattr(0, &savedMode) != 0) return;
    keyMode = savedMode;
    keyMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keyMode.c_lflag |= ISIG;
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    std::atomic_signal_fence(std::memory_order_release);
    keyModeTaken = 1;
    tcsetattr(0, TCSANOW, &keyMode);
}
