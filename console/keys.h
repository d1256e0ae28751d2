// keys.h - single keys for the diskette programs (key poll and key wait) and
// one line of text for the image extractor's overwrite prompt.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr int kKeyNone = 0;     // no key waiting, or a key without a character
inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEsc = 27;
// No key will ever come: standard input has ended, or its terminal can no
// longer be read (hung up). Negative, so that no caller takes it for a key.
inline constexpr int kKeyEndOfInput = -2;

// Puts a terminal on standard input into single-key mode: no line editing, no
// echo, Ctrl+C still ends the program and Ctrl+Z stops it. The terminal's own
// mode comes back when the program ends, also by a signal, and while it is
// stopped; key mode returns when it continues. Call once, at the start of a
// diskette program; does nothing when standard input is no terminal.
void EnterKeyMode();

// Takes one waiting key event and returns its value, or 0 at once when none is
// waiting (always 0 when standard input is not a terminal); ESC when the
// terminal can no longer be read.
[[nodiscard]] int PollKey();

// Discards everything typed so far, then waits for the next key event and
// returns its value, or kKeyEndOfInput when none can come. Without a terminal
// it reads one byte, and CR LF counts as one ENTER: a LF right after a CR is
// dropped when it comes, without waiting for it after the CR.
[[nodiscard]] int WaitForKey();

// Reads one line of standard input into buffer without its line end. A longer
// line is read to its end and only its beginning kept. Returns false at end of
// input (nothing read) or on a read error.
[[nodiscard]] bool ReadInputLine(char* buffer, std::size_t bufferSize);

// Decoding of terminal key bytes, kept apart from the reading. A key is one
// byte, or an escape sequence (arrow and function keys) that gives 0.
enum class KeySequence : std::uint8_t {
    kNone = 0,       // between keys
    kEscape = 1,     // ESC seen; a lone ESC if nothing follows soon
    kBracket = 2,    // ESC [ ... : parameters until a final byte 0x40-0x7E
    kSingle = 3,     // ESC O: one more byte ends it
};
struct KeyDecoder {
    KeySequence sequence;
};
inline constexpr int kKeyIncomplete = -1;

// Feeds one byte; returns the key value of the event it completes, or
// kKeyIncomplete while an escape sequence goes on.
[[nodiscard]] int FeedKeyByte(KeyDecoder* decoder, std::uint8_t byte);

// Ends a sequence when no more bytes came: a lone ESC gives 27, a cut-off
// sequence 0. The decoder is ready for the next key afterwards.
[[nodiscard]] int FinishKeySequence(KeyDecoder* decoder);
