// charset_posix.cpp - the character set of the user's locale, read from the
// environment as the C library would: LC_ALL, then LC_CTYPE, then LANG.
#include "console/console.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

bool IsLocaleUtf8() {
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value == nullptr || value[0] == '\0') continue;
        const char* dot = std::strchr(value, '.');
        if (dot == nullptr) return false;
        char codeset[16] = {};
        std::size_t length = 0;
        for (const char* p = dot + 1; *p != '\0' && *p != '@' && length + 1 < sizeof(codeset); ++p) {
            if (*p == '-') continue;
            codeset[length++] = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        }
        return std::strcmp(codeset, "utf8") == 0;
    }
    return false;
}
