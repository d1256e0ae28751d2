// console.h - coloured text output: console print and the console writer.
// Texts are NUL-terminated bytes of code page 437 that carry their own line
// ends; ESC followed by an attribute byte changes the colour and is never shown.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <iterator>

#if defined(__GNUC__) || defined(__clang__)
#define PRINTF_LIKE(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PRINTF_LIKE(formatIndex, firstArgument)
#endif

inline constexpr char kEsc = '\x1b';
inline constexpr std::size_t kPrintBufferSize = 1024;   // bytes, NUL included

// Attribute bytes of the colour pairs: bits 0-3 foreground blue, green, red,
// intensity; bits 4-7 the same for the background.
inline constexpr std::uint8_t kColourNormal = 0x07;     // light grey
inline constexpr std::uint8_t kColourBanner = 0x0B;     // light cyan
inline constexpr std::uint8_t kColourMessage = 0x0E;    // yellow
inline constexpr std::uint8_t kColourBright = 0x0F;     // bright white

// How a program's output behaves when standard output is not a terminal.
enum class OutputVariant : std::uint8_t {
    kFile = 0,      // image extractor: the text arrives, colour pairs dropped
    kConsole = 1,   // diskette programs: the text goes to the console (on POSIX
                    // the terminal on standard error, when standard output is
                    // none), or nowhere; the reporter's messages then go to
                    // standard error as plain lines (POSIX) or nowhere (Windows)
};

// Chooses the variant for the whole process; StartConsoleProgram (program.h)
// calls it at the start of main. The file variant is in force until then.
void SetOutputVariant(OutputVariant variant);
[[nodiscard]] OutputVariant GetOutputVariant();

// Writes text where the output variant in force sends it (standard output,
// or the console), turning each ESC + attribute pair into a colour change on
// a terminal. An ESC at the very end of the text is dropped. Output failures
// are ignored.
void ConsoleWrite(const char* text);

// Formats like printf into a 1024-byte buffer (a longer text is cut) and
// hands the result to ConsoleWrite.
void ConsolePrint(const char* format, ...) PRINTF_LIKE(1, 2);
void ConsolePrintV(const char* format, std::va_list arguments) PRINTF_LIKE(1, 0);

// Pure helpers of the terminal form, kept apart from the I/O for the tests.

// Writes the terminal's colour sequence for an attribute byte into buffer and
// returns its length (0 when it did not fit). 0x07 resets to the terminal's
// own colours; black (0) as background keeps the terminal's background.
[[nodiscard]] std::size_t FormatColourSequence(std::uint8_t attribute, char* buffer,
                                               std::size_t bufferSize);

inline constexpr std::size_t kUtf8MaxLength = 3;   // bytes per code page 437 character

// Encodes one code page 437 byte as UTF-8 into out (kUtf8MaxLength bytes);
// returns the number of bytes. Bytes below 0x80 stay as they are.
[[nodiscard]] std::size_t EncodeCp437AsUtf8(std::uint8_t byte, char* out);

// Texts in the user's character set. Where the locale uses UTF-8, the
// terminal shows code page 437 converted to UTF-8 (console_posix.cpp), and
// names and patterns the user types arrive in UTF-8.

// True when the locale the environment asks for (LC_ALL, then LC_CTYPE, then
// LANG: the first that is set and not empty) uses UTF-8. Reads the
// environment at each call. Always false on Windows, whose console shows
// code page 437 itself and whose file names take its bytes as they are.
[[nodiscard]] bool IsLocaleUtf8();

// Converts text from code page 437 to UTF-8 into out (outSize bytes, NUL
// included); bytes below 0x80 stay as they are. False when the result does
// not fit; out then holds its beginning, no part of a character.
[[nodiscard]] bool ConvertCp437ToUtf8(const char* text, char* out, std::size_t outSize);

// Decodes the UTF-8 character at the start of text (length bytes available):
// returns its length in bytes (1 to 4) and sets *codePoint, or returns 0 when
// the bytes are no valid UTF-8 character (a stray continuation byte, a cut
// or overlong sequence, a surrogate, beyond U+10FFFF).
[[nodiscard]] std::size_t DecodeUtf8(const char* text, std::size_t length,
                                     std::uint32_t* codePoint);

// The code page 437 byte of codePoint (U+0000 to U+007F are the bytes 0x00 to
// 0x7F): true and *byte, or false when code page 437 has no such character.
[[nodiscard]] bool FindCodePage437Byte(std::uint32_t codePoint, std::uint8_t* byte);

// Converts UTF-8 text to code page 437 into out (outSize bytes, NUL
// included); the result is never longer than text. A byte that starts no
// valid UTF-8 character and a character code page 437 lacks become the byte
// replacement, or make the conversion fail when replacement is '\0'. False
// also when the result does not fit; out then holds its beginning. out may
// be text itself: the conversion then happens in place.
[[nodiscard]] bool ConvertUtf8ToCp437(const char* text, char replacement, char* out,
                                      std::size_t outSize);
