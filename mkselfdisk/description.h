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

// Decodes the UTF-8 character at the start of text (length bytes available):
// returns its length in bytes (1 to 4) and sets *codePoint, or returns 0 when
// the bytes are no valid UTF-8 character (a stray continuation byte, a cut
// or overlong sequence, a surrogate, beyond U+10FFFF).
[[nodiscard]] std::size_t DecodeUtf8(const std::uint8_t* text, std::size_t length,
                                     std::uint32_t* codePoint);

// The code page 437 byte of codePoint: true and *byte, or false when code
// page 437 has no such character.
[[nodiscard]] bool FindCodePage437Byte(std::uint32_t codePoint, std::uint8_t* byte);
