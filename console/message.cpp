// message.cpp - building a message and handing it to the console writer.
#include "console/message.h"

#include <cstdio>
#include <cstring>

#include "console/system_error.h"

void TranslateCharacters(char* text, const char* fromSet, const char* toSet) {
    const std::size_t setLength = std::strlen(fromSet);
    if (setLength != std::strlen(toSet)) return;
    for (char* p = text; *p != '\0'; ++p) {
        const char* found = std::strchr(fromSet, *p);
        if (found != nullptr) *p = toSet[found - fromSet];
    }
}

std::size_t CleanSystemText(char* text) {
    std::size_t length = std::strlen(text);
    while (length > 0 && static_cast<unsigned char>(text[length - 1]) < 0x20) --length;
    text[length] = '\0';
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) < 0x20) text[i] = ' ';
    }
    return length;
}

// Appends text to buffer[*length], leaving reserve bytes (and the NUL) free
// for what must end the message; a text that does not fit is cut.
static void AppendText(char* buffer, std::size_t bufferSize, std::size_t* length,
                       std::size_t reserve, const char* text) {
    if (*length + reserve + 1 >= bufferSize) return;
    const std::size_t room = bufferSize - reserve - 1 - *length;
    std::size_t textLength = std::strlen(text);
    if (textLength > room) textLength = room;
    std::memcpy(buffer + *length, text, textLength);
    *length += textLength;
    buffer[*length] = '\0';
}

// The error part of the message, without its leading line break: "SYS0005" or
// the cleaned system text; empty when nothing is to be shown.
static void FormatErrorPart(OutputVariant variant, std::uint32_t systemCode, char* part,
                            std::size_t partSize) {
    part[0] = '\0';
    if (variant == OutputVariant::kFile) {
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
    const char start[] = {kEsc, static_cast<char>(kColourMessage), '\0'};
    AppendText(buffer, bufferSize, &length, reserve, start);
    if ((flags & 0xFFFFu) == 0) AppendText(buffer, bufferSize, &length, reserve, "\r\n");

    char text[kMessageBufferSize];
    if (std::vsnprintf(text, sizeof(text), format, arguments) < 0) text[0] = '\0';
    AppendText(buffer, bufferSize, &length, reserve, text);

    if (systemCode != 0) {
        char part[kSystemTextBufferSize];
        FormatErrorPart(variant, systemCode, part, sizeof(part));
        if (part[0] != '\0') {
            // The error part is shown whole or not at all.
            if (length + reserve + std::strlen(part) + 3 < bufferSize) {
                AppendText(buffer, bufferSize, &length, reserve, "\r\n(");
                AppendText(buffer, bufferSize, &length, reserve, part);
                AppendText(buffer, bufferSize, &length, reserve, ")");
            }
        }
    }
    AppendText(buffer, bufferSize, &length, 0, lineEnd ? kEnding : kEnding + 2);
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
    (void)length;
    ConsoleWrite(buffer);
}
