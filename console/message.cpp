// message.cpp - building a message and handing it to the console writer.
#include "console/message.h"

#include <cstdio>
#include <cstring>

#include "console/console_platform.h"
#include "console/system_error.h"
#include "console/text.h"

void TranslateCharacters(char* text, const char* fromSet, const char* toSet) {
    const std::size_t setLength = std::strlen(fromSet);
    if (setLength != std::strlen(toSet)) return;
    for (char* p = text; *p != '\0'; ++p) {
        const char* found = std::strchr(fromSet, *p);
        if (found != nullptr) *p = toSet[found - fromSet];
    }
}

std::size_t MakePlainMessage(char* message, std::size_t messageSize) {
    std::size_t length = 0;
    for (std::size_t i = 0; message[i] != '\0'; ++i) {
        if (message[i] == kEsc) {
            if (message[i + 1] == '\0') break;   // an ESC at the end is dropped
            ++i;                                 // and a pair as a whole
            continue;
        }
        if (message[i] == '\r' && message[i + 1] == '\n') continue;   // the LF stays
        message[length++] = message[i];
    }
    // No empty line before it: a plain line follows the previous line.
    const std::size_t start = length > 0 && message[0] == '\n' ? 1 : 0;
    std::memmove(message, message + start, length - start);
    length -= start;
    if (length > 0 && message[length - 1] == '\r') {
        message[length - 1] = '\n';
    } else if ((length == 0 || message[length - 1] != '\n') && length + 1 < messageSize) {
        message[length++] = '\n';
    }
    message[length] = '\0';
    return length;
}

static bool systemTextsInFileVariant = false;

void ShowSystemTextsInFileVariant(bool show) { systemTextsInFileVariant = show; }

// The error part of the message, without its leading line break: "SYS0005" or
// the cleaned system text; empty when nothing is to be shown.
static void FormatErrorPart(OutputVariant variant, std::uint32_t systemCode, char* part,
                            std::size_t partSize) {
    part[0] = '\0';
    if (variant == OutputVariant::kFile && !systemTextsInFileVariant) {
        std::snprintf(part, partSize, "SYS%04u", static_cast<unsigned>(systemCode));
        return;
    }
    std::size_t textLength = GetSystemErrorText(systemCode, part, partSize);
    if (textLength == 0) {
        part[0] = '\0';
        return;
    }
    TranslateCharacters(part, kAnsiLetters, kOemLetters);
    CleanSystemText(part);
}

std::size_t BuildMessageV(char* buffer, std::size_t bufferSize, OutputVariant variant,
                          const char* format, std::uint32_t flags, std::uint32_t systemCode,
                          std::va_list arguments) {
    static const char kEnding[] = {'\r', '\n', kEsc, static_cast<char>(kColourNormal), '\0'};
    const bool lineEnd = (flags & kMessageNoLineEnd) == 0;
    const std::size_t reserve = lineEnd ? 4 : 2;   // CR LF ESC 0x07, or ESC 0x07
    std::size_t length = 0;
    buffer[0] = '\0';
    // The texts before the ending leave its reserve bytes free; a text that
    // does not fit is cut.
    const std::size_t textRoom = bufferSize > reserve ? bufferSize - reserve : 0;
    const char start[] = {kEsc, static_cast<char>(kColourMessage), '\0'};
    (void)AppendToField(buffer, textRoom, &length, start);
    if ((flags & 0xFFFFu) == 0) (void)AppendToField(buffer, textRoom, &length, "\r\n");

    char text[kMessageBufferSize];
    if (std::vsnprintf(text, sizeof(text), format, arguments) < 0) text[0] = '\0';
    (void)AppendToField(buffer, textRoom, &length, text);

    if (systemCode != 0) {
        char part[kSystemTextBufferSize];
        FormatErrorPart(variant, systemCode, part, sizeof(part));
        if (part[0] != '\0') {
            // The error part is shown whole or not at all.
            if (length + reserve + std::strlen(part) + 3 < bufferSize) {
                (void)AppendToField(buffer, textRoom, &length, "\r\n(");
                (void)AppendToField(buffer, textRoom, &length, part);
                (void)AppendToField(buffer, textRoom, &length, ")");
            }
        }
    }
    (void)AppendToField(buffer, bufferSize, &length, lineEnd ? kEnding : kEnding + 2);
    return length;
}

std::size_t BuildMessage(char* buffer, std::size_t bufferSize, OutputVariant variant,
                         const char* format, std::uint32_t flags, std::uint32_t systemCode, ...) {
    std::va_list arguments;
    va_start(arguments, systemCode);
    std::size_t length =
        BuildMessageV(buffer, bufferSize, variant, format, flags, systemCode, arguments);
    va_end(arguments);
    return length;
}

void ReportMessage(const char* format, std::uint32_t flags, std::uint32_t systemCode, ...) {
    char buffer[kMessageBufferSize];
    std::va_list arguments;
    va_start(arguments, systemCode);
    std::size_t length = BuildMessageV(buffer, sizeof(buffer), GetOutputVariant(), format, flags,
                                       systemCode, arguments);
    va_end(arguments);
    if (FindConsolePlace(GetOutputVariant()) != ConsolePlace::kNowhere) {
        ConsoleWrite(buffer);
        return;
    }
    length = MakePlainMessage(buffer, sizeof(buffer));
    WritePlainMessage(buffer, length);
}
