// keys_win.cpp - key input from the Windows console: one console input event
// per call (PeekConsoleInputA, ReadConsoleInputA), the release of a key as
// much as its press; and byte input from the standard input handle.
#include "console/keys.h"

#include <windows.h>

#include "console/keys_platform.h"

static HANDLE InputHandle() { return GetStdHandle(STD_INPUT_HANDLE); }

// A console; a file, a pipe or the NUL device has no input events.
bool IsInputTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(InputHandle(), &mode) != 0;
}

// Processed input only: a key counts the moment it is pressed and is not
// echoed; Ctrl+C keeps its meaning. The mode is not given back at the end.
void EnterKeyMode() { (void)SetConsoleMode(InputHandle(), ENABLE_PROCESSED_INPUT); }

// The character of an event: 0 for anything but a key event and for keys
// that carry no character (SHIFT, the arrow keys). The ESC key gives 27 also
// where the console leaves its character empty.
static int KeyValueOf(const INPUT_RECORD* record) {
    if (record->EventType != KEY_EVENT) return kKeyNone;
    const KEY_EVENT_RECORD* key = &record->Event.KeyEvent;
    const int character = static_cast<unsigned char>(key->uChar.AsciiChar);
    if (character == 0 && key->wVirtualKeyCode == VK_ESCAPE) return kKeyEsc;
    return character;
}

int PollKey() {
    if (!IsInputTerminal()) return kKeyNone;
    HANDLE input = InputHandle();
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!PeekConsoleInputA(input, &record, 1, &count) || count == 0) return kKeyNone;
    if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) return kKeyNone;
    return KeyValueOf(&record);
}

bool ReadInputByte(std::uint8_t* byte) {
    DWORD count = 0;
    return ReadFile(InputHandle(), byte, 1, &count, nullptr) != 0 && count == 1;
}

int WaitForTerminalKey() {
    HANDLE input = InputHandle();
    (void)FlushConsoleInputBuffer(input);
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) return kKeyEndOfInput;
    return KeyValueOf(&record);
}
