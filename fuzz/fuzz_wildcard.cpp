// fuzz_wildcard.cpp - the wildcard automaton on an arbitrary pattern and name
// (input: pattern, a NUL byte, name), and three properties every name has:
// "*" matches it, the name with each byte escaped by "/" matches it, and so
// does that escaped name followed by "*".
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "extractor/wildcard.h"

static constexpr std::size_t kTextSize = 1024;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char pattern[kTextSize];
    char name[kTextSize];
    const std::uint8_t* separator = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t patternLength = separator != nullptr ? static_cast<std::size_t>(separator - data) : size;
    if (patternLength >= kTextSize) return 0;
    std::memcpy(pattern, data, patternLength);
    pattern[patternLength] = '\0';
    std::size_t nameLength = 0;
    if (separator != nullptr) {
        const std::uint8_t* start = separator + 1;
        const std::size_t rest = size - patternLength - 1;
        const std::uint8_t* end = static_cast<const std::uint8_t*>(std::memchr(start, 0, rest));
        nameLength = end != nullptr ? static_cast<std::size_t>(end - start) : rest;
        if (nameLength >= kTextSize / 2 - 1) return 0;
        std::memcpy(name, start, nameLength);
    }
    name[nameLength] = '\0';

    (void)MatchWildcard(pattern, name);

    if (!MatchWildcard("*", name)) ReportFinding("\"*\" does not match a name");
    char escaped[kTextSize];
    std::size_t length = 0;
    for (std::size_t i = 0; i < nameLength; ++i) {
        escaped[length++] = '/';
        escaped[length++] = name[i];
    }
    escaped[length] = '\0';
    if (!MatchWildcard(escaped, name)) ReportFinding("the escaped name does not match the name");
    escaped[length++] = '*';
    escaped[length] = '\0';
    if (!MatchWildcard(escaped, name)) ReportFinding("the escaped name and \"*\" do not match the name");
    return 0;
}
