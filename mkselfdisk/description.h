// description.h - a self-creating diskette's description as its builder takes
// it: UTF-8 text, converted into the code page 437 bytes the program shows.
#pragma once
#include <cstddef>
#include <cstdint>

// Converts utf8Length bytes of UTF-8 text into code page 437 in description
// (descriptionSize bytes, NUL included, NUL written after the text). CR LF
// becomes LF, the line separator of a description; every other character
// becomes its code page 437 byte (characters below U+0080 stay as they are).
// ESC and the character after it are a colour pair where the description is
// shown: that character's byte is the attribute, 0x01 to 0xFF.
// Returns 1 with *length the bytes written, or 0 after reporting once: bytes
// that are no UTF-8 (with their offset); with its line and column, counted
// from 1 in characters: a character without a code page 437 form, a control
// character (U+0000 to U+001F but LF and ESC, and U+007F) outside a colour
// pair, an ESC at the end or before a NUL or a line end; or a result longer
// than descriptionSize - 1 bytes.
[[nodiscard]] int ConvertDescription(const char* utf8, std::size_t utf8Length, char* description,
                                     std::size_t descriptionSize, std::uint32_t* length);

// Reports that a description is longer than maximumLength bytes in code page
// 437: the one wording for the converted text, a description file too large
// to give one, and a request that carries one.
void ReportDescriptionTooLong(std::size_t maximumLength);
