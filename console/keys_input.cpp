// keys_input.cpp - key and line input from a standard input that gives only
// bytes (a file, a pipe), on top of the platform's byte input. Built into the
// key input library with keys_<platform>.cpp, so that a test program that
// links a queue of keys in their place takes neither.
#include "console/keys.h"

#include "console/keys_platform.h"

// True when the last byte the key wait took was a CR. A script that answers
// with CR LF means one ENTER; one that sends a lone CR may wait for what it
// sets off before sending more, so the LF is dropped when it comes rather
// than awaited after the CR.
static bool lastKeyByteWasCr = false;

int WaitForKey() {
    if (IsInputTerminal()) return WaitForTerminalKey();
    std::uint8_t byte = 0;
    bool partOfCrLf = false;
    do {
        if (!ReadInputByte(&byte)) return kKeyEndOfInput;
        partOfCrLf = byte == '\n' && lastKeyByteWasCr;
        lastKeyByteWasCr = byte == '\r';
    } while (partOfCrLf);
    if (byte == '\r' || byte == '\n') return kKeyEnter;
    return byte;
}

// A line ends in LF or in CR LF (the Windows console in line mode hands over
// CR LF, and a file may hold either form); the CR before the LF is dropped.
bool ReadInputLine(char* buffer, std::size_t bufferSize) {
    std::size_t length = 0;
    bool readAny = false;
    std::uint8_t byte = 0;
    while (ReadInputByte(&byte)) {
        readAny = true;
        if (byte == '\n') break;
        if (length + 1 < bufferSize) buffer[length++] = static_cast<char>(byte);
    }
    if (length > 0 && buffer[length - 1] == '\r') --length;
    if (bufferSize > 0) buffer[length] = '\0';
    return readAny;
}
