// keys_win.cpp - key input from the Windows console: one console input event
// per call (PeekConsoleInputA, ReadConsoleInputA), the release of a key as
// much as its press; and line input from the standard input handle.
#include "console/keys.h"

#include <windows.h>

static HANDLE InputHandle() { return GetStdHandle(STD_INPUT_HANDLE); }

// True when standard input is a console; a file, a pipe or the NUL device
// has no input events.
static bool IsInputConsole(HANDLE input) {
    DWORD mode = 0;
    return GetConsoleMode(input, &mode) != 0;
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
    HANDLE input = InputHandle();
    if (!IsInputConsole(input)) return kKeyNone;
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!PeekConsoleInputA(input, &record, 1, &count) || count == 0) return kKeyNone;
    if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) return kKeyNone;
    return KeyValueOf(&record);
}

// Reads one byte of a standard input that is no console; false at its end.
static bool ReadInputByte(HANDLE input, char* byte) {
    DWORD count = 0;
    return ReadFile(input, byte, 1, &count, nullptr) != 0 && count == 1;
}

int WaitForKey() {
    HANDLE input = InputHandle();
    if (!IsInputConsole(input)) {
        char byte = 0;
        if (!ReadInputByte(input, &byte)) return kKeyEsc;
        if (byte == '\r' || byte == '\n') return kKeyEnter;
        return static_cast<unsigned char>(byte);
    }
    (void)FlushConsoleInputBuffer(input);
    INPUT_RECORD record{};
    DWORD count = 0;
    // A console that can no longer be read would answer every later wait
    // at once: ESC ends the prompt instead of asking for ever.
    if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) return kKeyEsc;
    return KeyValueOf(&record);
}

// The console in line mode hands over a whole line ending in CR LF; a file
// may end its lines in either form. The CR before the LF is dropped.
bool ReadInputLine(char* buffer, std::size_t bufferSize) {
    HANDLE input = InputHandle();
    std::size_t length = 0;
    bool readAny = false;
    char byte = 0;
    while (ReadInputByte(input, &byte)) {
        readAny = true;
        if (byte == '\n') break;
        if (length + 1 < bufferSize) buffer[length++] = byte;
    }
    if (length > 0 && buffer[length - 1] == '\r') --length;
    if (bufferSize > 0) buffer[length] = '\0';
    return readAny;
}
