// keys.cpp - terminal key bytes to key values.
#include "console/keys.h"

int FeedKeyByte(KeyDecoder* decoder, std::uint8_t byte) {
    switch (decoder->sequence) {
        case KeySequence::kNone:
            if (byte == kKeyEsc) {
                decoder->sequence = KeySequence::kEscape;
                return kKeyIncomplete;
            }
            if (byte == '\r' || byte == '\n') return kKeyEnter;
            return byte;
        case KeySequence::kEscape:
            if (byte == '[') {
                decoder->sequence = KeySequence::kBracket;
                return kKeyIncomplete;
            }
            if (byte == 'O') {
                decoder->sequence = KeySequence::kSingle;
                return kKeyIncomplete;
            }
            decoder->sequence = KeySequence::kNone;   // ESC + key: Alt held down
            return kKeyNone;
        case KeySequence::kBracket:
            if (byte >= 0x40 && byte <= 0x7E) {
                decoder->sequence = KeySequence::kNone;
                return kKeyNone;
            }
            return kKeyIncomplete;
        case KeySequence::kSingle:
            decoder->sequence = KeySequence::kNone;
            return kKeyNone;
    }
    decoder->sequence = KeySequence::kNone;
    return kKeyNone;
}

int FinishKeySequence(KeyDecoder* decoder) {
    const bool loneEscape = decoder->sequence == KeySequence::kEscape;
    decoder->sequence = KeySequence::kNone;
    return loneEscape ? kKeyEsc : kKeyNone;
}
