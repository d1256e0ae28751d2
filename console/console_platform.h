// console_platform.h - what the console writer needs of the platform;
// implemented in console_<platform>.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

// True when standard output is a terminal.
[[nodiscard]] bool IsOutputTerminal();

// Writes a run of text bytes to standard output. terminal tells that the
// output is a terminal, where the bytes may need translating for display.
void WriteOutputRun(const char* bytes, std::size_t byteCount, bool terminal);

// Makes attribute the colour of everything written afterwards (terminal only;
// on POSIX not where the environment asks for no colours: NO_COLOR, TERM=dumb).
void SetOutputColour(std::uint8_t attribute);
