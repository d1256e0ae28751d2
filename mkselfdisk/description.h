// description.h - a self-creating diskette's description as its builder takes
// it: UTF-8 text, converted into the code page 437 bytes the program shows.
#pragma once
#include <cstddef>
#include <cstdint>

// Converts utf8Length bytes of UTF-8 text into code page 437 in description
// (descriptionSize bytes, NUL included, NUL written after the text). CR LF
// becomes LF, the line separator of a description; every other character
// becomes its code page 437 byte (characters below U+0080 stay as they are,
// ESC included, which changes the colour where the description is shown).
// Returns 1 with *length the bytes written, or 0 after reporting once: bytes
// that are no UTF-8 (with their offset), a character without a code page 437
// form (with its line and column, counted from 1 in characters), or a result
// longer than descriptionSize - 1 bytes.
[[nodiscard]] int ConvertDescription(const char* utf8, std::size_t utf8Length, char* description,
                                     std::size_t descriptionSize, std::uint32_t* length);
