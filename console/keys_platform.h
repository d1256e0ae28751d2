// keys_platform.h - what the portable key and line input (keys_input.cpp)
// needs of the platform; implemented in keys_<platform>.cpp.
#pragma once
#include <cstdint>

// True when standard input is a terminal (a console on Windows), which gives
// key events; a file, a pipe or a null device gives only bytes.
[[nodiscard]] bool IsInputTerminal();

// Discards everything typed so far on the terminal, then waits for its next
// key event and returns its value; kKeyEndOfInput when the terminal can no
// longer be read, so that a prompt cannot ask for ever.
[[nodiscard]] int WaitForTerminalKey();

// Reads one byte of standard input; false at its end or on an error.
[[nodiscard]] bool ReadInputByte(std::uint8_t* byte);
