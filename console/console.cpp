// console.cpp - splitting text at colour pairs, console print's buffer, and
// the pure conversions of the terminal form. No system calls here.
#include "console/console.h"

#include <cstdio>
#include <cstring>

#include "console/console_platform.h"

static OutputVariant outputVariant = OutputVariant::kFile;

void SetOutputVariant(OutputVariant variant) { outputVariant = variant; }

OutputVariant GetOutputVariant() { return outputVariant; }

// True when text holds no ESC and no byte above 0x7F: it then reaches a
// terminal byte for byte as it reaches a file. *length gets its length.
// Eight bytes are looked at a step: a byte above 0x7F has its top bit set,
// and an ESC is a byte that XOR with 0x1B turns into 0, which the usual
// zero-byte test finds (it can also flag a byte above 0x7F, false either way).
static bool IsPlainAscii(const char* text, std::size_t* length) {
    const std::size_t textLength = std::strlen(text);
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kTopBits = 0x8080808080808080u;
    constexpr std::uint64_t kEscBytes = kOnes * static_cast<unsigned char>(kEsc);
    std::size_t index = 0;
    for (; textLength - index >= sizeof(std::uint64_t); index += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;
        std::memcpy(&word, text + index, sizeof(word));
        const std::uint64_t escMarks = word ^ kEscBytes;
        if (((word | ((escMarks - kOnes) & ~escMarks)) & kTopBits) != 0) return false;
    }
    for (; index < textLength; ++index) {
        const unsigned char byte = static_cast<unsigned char>(text[index]);
        if (byte == static_cast<unsigned char>(kEsc) || byte > 0x7F) return false;
    }
    *length = textLength;
    return true;
}

void ConsoleWrite(const char* text) {
    // The file variant delivers plain text alike wherever the output goes,
    // so most lines (one per extracted file) need not ask what it is.
    std::size_t plainLength = 0;
    if (GetOutputVariant() == OutputVariant::kFile && IsPlainAscii(text, &plainLength)) {
        if (plainLength > 0) WriteOutputRun(text, plainLength, false);
        return;
    }
    const ConsolePlace place = FindConsolePlace(GetOutputVariant());
    if (place == ConsolePlace::kNowhere) return;
    const bool terminal = place == ConsolePlace::kTerminal;
    const char* position = text;
    for (;;) {
        const char* escape = std::strchr(position, kEsc);
        if (escape == nullptr) {
            std::size_t length = std::strlen(position);
            if (length > 0) WriteOutputRun(position, length, terminal);
            return;
        }
        if (escape > position) {
            WriteOutputRun(position, static_cast<std::size_t>(escape - position), terminal);
        }
        const std::uint8_t attribute = static_cast<std::uint8_t>(escape[1]);
        if (attribute == 0) return;   // an ESC at the end of the text is dropped
        if (terminal) SetOutputColour(attribute);
        position = escape + 2;
    }
}

void ConsolePrintV(const char* format, std::va_list arguments) {
    char buffer[kPrintBufferSize];
    int length = std::vsnprintf(buffer, std::size(buffer), format, arguments);
    if (length < 0) return;
    ConsoleWrite(buffer);
}

void ConsolePrint(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    ConsolePrintV(format, arguments);
    va_end(arguments);
}

// Attribute bits 0-2 are blue, green, red; the terminal numbers its colours
// red = 1, green = 2, blue = 4.
static unsigned TerminalColourIndex(unsigned windowsColour) {
    return ((windowsColour & 1u) << 2) | (windowsColour & 2u) | ((windowsColour & 4u) >> 2);
}

std::size_t FormatColourSequence(std::uint8_t attribute, char* buffer, std::size_t bufferSize) {
    int length = 0;
    if (attribute == kColourNormal) {
        length = std::snprintf(buffer, bufferSize, "\x1b[0m");
    } else {
        const unsigned foreground = attribute & 0x0Fu;
        const unsigned background = (attribute >> 4) & 0x0Fu;
        const unsigned foregroundCode = ((foreground & 8u) ? 90u : 30u) + TerminalColourIndex(foreground);
        if (background == 0) {
            length = std::snprintf(buffer, bufferSize, "\x1b[0;%um", foregroundCode);
        } else {
            const unsigned backgroundCode = ((background & 8u) ? 100u : 40u) + TerminalColourIndex(background);
            length = std::snprintf(buffer, bufferSize, "\x1b[0;%u;%um", foregroundCode, backgroundCode);
        }
    }
    if (length < 0 || static_cast<std::size_t>(length) >= bufferSize) return 0;
    return static_cast<std::size_t>(length);
}

// Unicode code points of the code page 437 characters 0x80 to 0xFF.
static constexpr std::uint16_t kCp437Upper[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
static_assert(kCp437Upper[0xDB - 0x80] == 0x2588, "full block");
static_assert(kCp437Upper[0xB0 - 0x80] == 0x2591, "light shade");

std::size_t EncodeCp437AsUtf8(std::uint8_t byte, char* out) {
    if (byte < 0x80) {
        out[0] = static_cast<char>(byte);
        return 1;
    }
    const unsigned codePoint = kCp437Upper[byte - 0x80];
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0u | (codePoint >> 6));
        out[1] = static_cast<char>(0x80u | (codePoint & 0x3Fu));
        return 2;
    }
    out[0] = static_cast<char>(0xE0u | (codePoint >> 12));
    out[1] = static_cast<char>(0x80u | ((codePoint >> 6) & 0x3Fu));
    out[2] = static_cast<char>(0x80u | (codePoint & 0x3Fu));
    return 3;
}

bool ConvertCp437ToUtf8(const char* text, char* out, std::size_t outSize) {
    if (outSize == 0) return false;
    std::size_t length = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        char encoded[kUtf8MaxLength];
        const std::size_t count = EncodeCp437AsUtf8(static_cast<std::uint8_t>(*p), encoded);
        if (length + count >= outSize) {
            out[length] = '\0';
            return false;
        }
        std::memcpy(out + length, encoded, count);
        length += count;
    }
    out[length] = '\0';
    return true;
}

std::size_t DecodeUtf8(const char* text, std::size_t length, std::uint32_t* codePoint) {
    if (length == 0) return 0;
    const std::uint8_t lead = static_cast<std::uint8_t>(text[0]);
    std::size_t byteCount;
    std::uint32_t value;
    std::uint32_t smallest;   // a shorter sequence would do below this: overlong
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0u) == 0xC0u) {
        byteCount = 2;
        value = lead & 0x1Fu;
        smallest = 0x80;
    } else if ((lead & 0xF0u) == 0xE0u) {
        byteCount = 3;
        value = lead & 0x0Fu;
        smallest = 0x800;
    } else if ((lead & 0xF8u) == 0xF0u) {
        byteCount = 4;
        value = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return 0;   // a continuation byte, or no UTF-8 lead byte at all
    }
    if (byteCount > length) return 0;
    for (std::size_t i = 1; i < byteCount; ++i) {
        const std::uint8_t byte = static_cast<std::uint8_t>(text[i]);
        if ((byte & 0xC0u) != 0x80u) return 0;
        value = (value << 6) | (byte & 0x3Fu);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return byteCount;
}

bool FindCodePage437Byte(std::uint32_t codePoint, std::uint8_t* byte) {
    if (codePoint < 0x80) {
        *byte = static_cast<std::uint8_t>(codePoint);
        return true;
    }
    for (std::size_t i = 0; i < std::size(kCp437Upper); ++i) {
        if (kCp437Upper[i] == codePoint) {
            *byte = static_cast<std::uint8_t>(0x80 + i);
            return true;
        }
    }
    return false;
}

bool ConvertUtf8ToCp437(const char* text, char replacement, char* out, std::size_t outSize) {
    if (outSize == 0) return false;
    std::size_t length = 0;
    const char* p = text;
    const char* const end = text + std::strlen(text);
    while (p < end) {
        std::uint32_t codePoint = 0;
        const std::size_t count = DecodeUtf8(p, static_cast<std::size_t>(end - p), &codePoint);
        std::uint8_t byte = 0;
        if (count == 0 || !FindCodePage437Byte(codePoint, &byte)) {
            if (replacement == '\0') {
                out[length] = '\0';
                return false;
            }
            byte = static_cast<std::uint8_t>(replacement);
        }
        if (length + 1 >= outSize) {
            out[length] = '\0';
            return false;
        }
        out[length++] = static_cast<char>(byte);
        p += count > 0 ? count : 1;
    }
    out[length] = '\0';
    return true;
}
