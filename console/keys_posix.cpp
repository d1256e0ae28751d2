// keys_posix.cpp - key input from a terminal in non-canonical mode, and byte
// input, on descriptor 0.
#include "console/keys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "console/keys_platform.h"
#include "console/terminal_guard.h"

// The bytes of one escape sequence arrive together; a pause this long after
// ESC means the ESC key itself was pressed.
static constexpr int kSequencePauseMilliseconds = 50;

// The terminal guard saves the terminal's mode and gives it back.
void EnterKeyMode() { EnterTerminalKeyMode(); }

// Waits up to timeout milliseconds (-1: without end) for input on descriptor 0.
static bool IsInputWaiting(int timeoutMilliseconds) {
    struct pollfd input {};
    input.fd = 0;
    input.events = POLLIN;
    for (;;) {
        int ready = poll(&input, 1, timeoutMilliseconds);
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

bool IsInputTerminal() { return isatty(0) == 1; }

bool ReadInputByte(std::uint8_t* byte) {
    for (;;) {
        ssize_t count = read(0, byte, 1);
        if (count == 1) return true;
        if (count < 0 && errno == EINTR) continue;
        return false;
    }
}

// Reads the rest of a key event whose first byte is waiting or on its way;
// kKeyEndOfInput when the terminal gives none.
static int ReadKeyEvent() {
    KeyDecoder decoder{};
    std::uint8_t byte = 0;
    if (!ReadInputByte(&byte)) return kKeyEndOfInput;
    int key = FeedKeyByte(&decoder, byte);
    while (key == kKeyIncomplete) {
        if (!IsInputWaiting(kSequencePauseMilliseconds) || !ReadInputByte(&byte)) {
            return FinishKeySequence(&decoder);
        }
        key = FeedKeyByte(&decoder, byte);
    }
    return key;
}

int PollKey() {
    if (!IsInputTerminal()) return kKeyNone;
    if (!IsInputWaiting(0)) return kKeyNone;
    // A terminal gone while work goes on cancels it, as ESC does.
    const int key = ReadKeyEvent();
    return key == kKeyEndOfInput ? kKeyEsc : key;
}

int WaitForTerminalKey() {
    tcflush(0, TCIFLUSH);
    if (!IsInputWaiting(-1)) return kKeyEndOfInput;
    return ReadKeyEvent();
}
