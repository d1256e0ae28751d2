// console_platform.h - what the console writer needs of the platform;
// implemented in console_<platform>.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

#include "console/console.h"

// Where the console writer's text goes, and in which form.
enum class ConsolePlace : std::uint8_t {
    kNowhere = 0,    // nothing is delivered: the console variant without a console
    kFile = 1,       // a file, a pipe or a device: colour pairs are dropped
    kTerminal = 2,   // a terminal: colour pairs become colour changes
};

// Where the text of variant goes: the file variant's to standard output,
// whatever it is; the console variant's to the console, on Windows standard
// output when it is one, on POSIX the terminal on standard output, else the
// one on standard error.
[[nodiscard]] ConsolePlace FindConsolePlace(OutputVariant variant);

// Writes a run of text bytes where the text of the variant in force goes.
// terminal tells that it is a terminal, where the bytes may need translating
// for display.
void WriteOutputRun(const char* bytes, std::size_t byteCount, bool terminal);

// Makes attribute the colour of everything written afterwards (terminal only;
// on POSIX not where the environment asks for no colours: NO_COLOR, TERM=dumb).
void SetOutputColour(std::uint8_t attribute);

// Writes a message in its plain form (MakePlainMessage, message.h) where the
// messages of a console variant without a console go: on POSIX standard
// error, so that a script still learns why a run failed or what it waits
// for; nowhere on Windows.
void WritePlainMessage(const char* bytes, std::size_t byteCount);
