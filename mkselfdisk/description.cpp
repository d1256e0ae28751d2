// description.cpp - UTF-8 descriptions into code page 437.
#include "mkselfdisk/description.h"

#include "console/console.h"
#include "console/message.h"

static constexpr std::uint32_t kFirstNonAscii = 0x80;
static constexpr std::uint32_t kLargestCodePoint = 0x10FFFF;

std::size_t DecodeUtf8(const std::uint8_t* text, std::size_t length, std::uint32_t* codePoint) {
    if (length == 0) return 0;
    const std::uint8_t lead = text[0];
    std::size_t byteCount = 0;
    std::uint32_t value = 0;
    std::uint32_t smallest = 0;   // a shorter sequence would do below this: overlong
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        byteCount = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        byteCount = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        byteCount = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;   // a continuation byte, or no UTF-8 lead byte at all
    }
    if (byteCount > length) return 0;
    for (std::size_t i = 1; i < byteCount; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (text[i] & 0x3F);
    }
    if (value < smallest || value > kLargestCodePoint || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return byteCount;
}

// The console's own table decides: the byte whose UTF-8 form is the
// character's.
bool FindCodePage437Byte(std::uint32_t codePoint, std::uint8_t* byte) {
    if (codePoint < kFirstNonAscii) {
        *byte = static_cast<std::uint8_t>(codePoint);
        return true;
    }
    for (std::uint32_t candidate = kFirstNonAscii; candidate <= 0xFF; ++candidate) {
        char encoded[kUtf8MaxLength];
        const std::size_t encodedLength =
            EncodeCp437AsUtf8(static_cast<std::uint8_t>(candidate), encoded);
        std::uint32_t candidatePoint = 0;
        if (DecodeUtf8(reinterpret_cast<const std::uint8_t*>(encoded), encodedLength,
                       &candidatePoint) == encodedLength &&
            candidatePoint == codePoint) {
            *byte = static_cast<std::uint8_t>(candidate);
            return true;
        }
    }
    return false;
}

int ConvertDescription(const char* utf8, std::size_t utf8Length, char* description,
                       std::size_t descriptionSize, std::uint32_t* length) {
    const std::uint8_t* text = reinterpret_cast<const std::uint8_t*>(utf8);
    std::size_t written = 0;
    std::uint32_t line = 1;
    std::uint32_t column = 1;
    if (descriptionSize > 0) description[0] = '\0';
    for (std::size_t position = 0; position < utf8Length;) {
        std::uint32_t codePoint = 0;
        const std::size_t byteCount = DecodeUtf8(text + position, utf8Length - position, &codePoint);
        if (byteCount == 0) {
            ReportMessage("The description is no UTF-8 text: byte %u cannot stand there.",
                          kMessageError, 0, static_cast<unsigned>(position + 1));
            return 0;
        }
        std::uint8_t byte = 0;
        if (codePoint == '\r' && position + 1 < utf8Length && text[position + 1] == '\n') {
            ++position;   // CR LF: only the LF is kept
            continue;
        }
        if (!FindCodePage437Byte(codePoint, &byte)) {
            ReportMessage("The description's character U+%04X in line %u, column %u has no form in "
                          "code page 437.",
                          kMessageError, 0, static_cast<unsigned>(codePoint),
                          static_cast<unsigned>(line), static_cast<unsigned>(column));
            return 0;
        }
        if (written + 1 >= descriptionSize) {
            ReportMessage("The description is longer than %u bytes in code page 437.",
                          kMessageError, 0,
                          static_cast<unsigned>(descriptionSize > 0 ? descriptionSize - 1 : 0));
            return 0;
        }
        description[written++] = static_cast<char>(byte);
        description[written] = '\0';
        position += byteCount;
        if (codePoint == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    *length = static_cast<std::uint32_t>(written);
    return 1;
}
