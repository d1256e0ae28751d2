// text.cpp - bounded copies and formatting into fields.
#include "console/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool CopyText(char* field, std::size_t fieldSize, const char* text) {
    std::size_t length = 0;
    if (fieldSize > 0) field[0] = '\0';
    return AppendToField(field, fieldSize, &length, text);
}

bool AppendToField(char* field, std::size_t fieldSize, std::size_t* length, const char* text) {
    if (fieldSize == 0 || *length >= fieldSize) return false;
    const std::size_t room = fieldSize - 1 - *length;
    const std::size_t textLength = std::strlen(text);
    const std::size_t copied = textLength < room ? textLength : room;
    std::memcpy(field + *length, text, copied);
    *length += copied;
    field[*length] = '\0';
    return copied == textLength;
}

bool FormatText(char* field, std::size_t fieldSize, const char* format, ...) {
    if (fieldSize == 0) return false;
    std::va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(field, fieldSize, format, arguments);
    va_end(arguments);
    if (length < 0) {
        field[0] = '\0';
        return false;
    }
    return static_cast<std::size_t>(length) < fieldSize;
}

void UpperCaseAscii(char* text) {
    for (char* p = text; *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
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
