// description.cpp - UTF-8 descriptions into code page 437.
#include "mkselfdisk/description.h"

#include "console/console.h"
#include "console/message.h"

static constexpr std::uint32_t kDelete = 0x7F;

// A control character in a description would move the cursor or ring the
// bell where the box is drawn, and break the box; only the line feed and
// ESC, which starts a colour pair, have a meaning there.
static bool IsRefusedControl(std::uint32_t codePoint) {
    return (codePoint < 0x20 && codePoint != '\n' &&
            codePoint != static_cast<unsigned char>(kEsc)) || codePoint == kDelete;
}

int ConvertDescription(const char* utf8, std::size_t utf8Length, char* description,
                       std::size_t descriptionSize, std::uint32_t* length) {
    std::size_t written = 0;
    std::uint32_t line = 1;
    std::uint32_t column = 1;
    // After an ESC: where it stands. The character after it is the colour
    // pair's attribute, any code page 437 byte but 0 (the end of the text
    // where it is shown); a line end would part the pair.
    bool attributeNext = false;
    std::uint32_t escLine = 0;
    std::uint32_t escColumn = 0;
    if (descriptionSize > 0) description[0] = '\0';
    for (std::size_t position = 0; position < utf8Length;) {
        std::uint32_t codePoint = 0;
        const std::size_t byteCount = DecodeUtf8(utf8 + position, utf8Length - position, &codePoint);
        if (byteCount == 0) {
            ReportMessage("The description is no UTF-8 text: byte %u cannot stand there.",
                          kMessageError, 0, static_cast<unsigned>(position + 1));
            return 0;
        }
        std::uint8_t byte = 0;
        if (codePoint == '\r' && position + 1 < utf8Length && utf8[position + 1] == '\n') {
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
        if (attributeNext && (codePoint == 0 || codePoint == '\n')) break;
        if (!attributeNext && IsRefusedControl(codePoint)) {
            ReportMessage("The description's control character U+%04X in line %u, column %u "
                          "cannot be shown.",
                          kMessageError, 0, static_cast<unsigned>(codePoint),
                          static_cast<unsigned>(line), static_cast<unsigned>(column));
            return 0;
        }
        attributeNext = !attributeNext && codePoint == static_cast<unsigned char>(kEsc);
        if (attributeNext) {
            escLine = line;
            escColumn = column;
        }
        if (written + 1 >= descriptionSize) {
            ReportDescriptionTooLong(descriptionSize > 0 ? descriptionSize - 1 : 0);
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
    if (attributeNext) {
        ReportMessage("The description's ESC in line %u, column %u is followed by no colour byte.",
                      kMessageError, 0, static_cast<unsigned>(escLine),
                      static_cast<unsigned>(escColumn));
        return 0;
    }
    *length = static_cast<std::uint32_t>(written);
    return 1;
}

void ReportDescriptionTooLong(std::size_t maximumLength) {
    ReportMessage("The description is longer than %u bytes in code page 437.", kMessageError, 0,
                  static_cast<unsigned>(maximumLength));
}
