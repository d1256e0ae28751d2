// text.cpp - bounded copies and formatting into fields.
#include "console/text.h"

#include <cstdarg>
#include <cstdio>

bool CopyText(char* field, std::size_t fieldSize, const char* text) {
    return FormatText(field, fieldSize, "%s", text);
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
