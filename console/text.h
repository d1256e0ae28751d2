// text.h - putting text into fixed-size fields without writing past them.
#pragma once
#include <cstddef>

#include "console/console.h"

inline constexpr std::size_t kPathSize = 260;   // bytes of a path or name field, NUL included

// Copies text into field (fieldSize bytes, NUL included). Returns false when
// the text did not fit; the field then holds its beginning.
[[nodiscard]] bool CopyText(char* field, std::size_t fieldSize, const char* text);

// Appends text to the text of *length characters in field (fieldSize bytes,
// NUL included) and moves *length to the new end. Returns false when text did
// not fit; the field then holds as much of it as fitted, as a copy of the
// whole would. Joining texts this way gives what snprintf with "%s%s..."
// gives, without its format interpreter.
[[nodiscard]] bool AppendToField(char* field, std::size_t fieldSize, std::size_t* length,
                                 const char* text);

// Formats like snprintf into field. Returns false when the result did not fit
// (the field then holds its beginning) or could not be formatted.
[[nodiscard]] bool FormatText(char* field, std::size_t fieldSize, const char* format, ...)
    PRINTF_LIKE(3, 4);

// Upper-cases the letters a to z in place; every other byte stays.
void UpperCaseAscii(char* text);

// Turns a system text into one line, as a message's error part or a map line
// shows it: trailing bytes below 0x20 removed, inner ones replaced by
// spaces; returns the new length.
std::size_t CleanSystemText(char* text);
