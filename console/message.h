// message.h - the one message reporter: every error, cancellation, notice and
// diskette prompt is shown through it, in yellow, with the system's word on
// the error code on the line below.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "console/console.h"

// Exit codes, the same in every program: 0 success (also a cancellation at a
// diskette prompt, nothing selected, nothing to write), 1 the help text was
// shown on request, 3 any error; and in the diskette reader alone 2: an
// image made with sectors that could not be read, or a comparison that
// found differences. No other code is used.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitHelp = 1;
inline constexpr int kExitIncomplete = 2;
inline constexpr int kExitError = 3;

inline constexpr std::size_t kMessageBufferSize = 1024;     // bytes, NUL included
inline constexpr std::size_t kSystemTextBufferSize = 512;   // bytes, NUL included

// Message flags. When bits 0-15 are all clear the message starts on a new line
// (CR LF first); the kind bits travel with the message but change nothing shown.
inline constexpr std::uint32_t kMessageError = 0x10000;     // errors and "Process canceled."
inline constexpr std::uint32_t kMessageRefusal = 0x20000;   // a diskette of another format
inline constexpr std::uint32_t kMessageNotice = 0x40000;    // a skipped diskette
inline constexpr std::uint32_t kMessageNoLineEnd = 0x80000; // no CR LF after the message
inline constexpr std::uint32_t kMessagePrompt = 0x8FFFF;    // a prompt that stays on its line

// Builds and shows one message: format and arguments as printf, then, when
// systemCode is not 0, the error part on the next line: "(SYS0005)" in the
// file variant (image extractor), the platform's text in parentheses in the
// console variant (diskette programs), or nothing when it has no text. A
// console variant without a console writes it in its plain form
// (MakePlainMessage) to standard error on POSIX, nowhere on Windows.
void ReportMessage(const char* format, std::uint32_t flags, std::uint32_t systemCode, ...)
    PRINTF_LIKE(1, 4);

// Makes the file variant show the platform's text in the error part, as the
// console variant does, instead of "(SYS0005)"; for a program whose messages
// are read by people only (mkselfdisk). Off until called; the console
// variant is not affected.
void ShowSystemTextsInFileVariant(bool show);

// Builds the bytes ReportMessage writes, without writing them; returns the
// length. The result always fits buffer: a message too long for it is cut, and
// the line end and the colour reset are kept.
[[nodiscard]] std::size_t BuildMessageV(char* buffer, std::size_t bufferSize,
                                        OutputVariant variant, const char* format,
                                        std::uint32_t flags, std::uint32_t systemCode,
                                        std::va_list arguments) PRINTF_LIKE(4, 0);
[[nodiscard]] std::size_t BuildMessage(char* buffer, std::size_t bufferSize,
                                       OutputVariant variant, const char* format,
                                       std::uint32_t flags, std::uint32_t systemCode, ...)
    PRINTF_LIKE(4, 7);

// Turns a message that BuildMessage built (messageSize bytes of room, NUL
// included) in place into its plain form, for standard error where a
// diskette program has no console: one line or more without colour pairs and
// without the line break before it, each line ended by LF alone (a prompt's
// closing CR too, and a message without a line end gets one). Returns the new
// length.
[[nodiscard]] std::size_t MakePlainMessage(char* message, std::size_t messageSize);

// Replaces in place every byte of text found in fromSet by the byte at the same
// position of toSet; leaves text unchanged when the sets differ in length.
void TranslateCharacters(char* text, const char* fromSet, const char* toSet);

// The German letters of the ANSI code page and the same letters in code page
// 437, applied to system texts in the console variant.
inline constexpr char kAnsiLetters[] = "\xE4\xC4\xF6\xD6\xFC\xDC\xDF";
inline constexpr char kOemLetters[] = "\x84\x8E\x94\x99\x81\x9A\xE1";
