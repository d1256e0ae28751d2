// wildcard.cpp - the pattern automaton: a state is a position in the pattern;
// each name byte moves every live state at once.
#include "extractor/wildcard.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// A state list holds positions in increasing pattern order and ends at its
// first empty slot, so 22 slots hold at most 21 states.
static constexpr std::size_t kStateListSize = 22;
static constexpr std::size_t kMaxStateCount = kStateListSize - 1;
static constexpr std::size_t kNoState = SIZE_MAX;   // the empty slot that ends a list

static_assert(kMaxStateCount == 21, "a list holds at most 21 states");

// Outcome of testing one name byte against the set that starts at a "<".
enum class SetResult : std::uint8_t {
    kNoMatch = 0,
    kMatch = 1,
    kUnclosed = 2,   // no ">" follows: the pattern is faulty
};

// Tests byte against the set whose "<" stands at setStart; on a match
// *afterSet receives the position after its ">".
static SetResult TestSet(const char* pattern, std::size_t setStart, unsigned char byte,
                         std::size_t* afterSet) {
    const char* close = std::strchr(pattern + setStart + 1, '>');
    if (close == nullptr) return SetResult::kUnclosed;
    const std::size_t closeIndex = static_cast<std::size_t>(close - pattern);
    std::size_t index = setStart + 1;
    const bool negated = pattern[index] == '|';
    if (negated) ++index;

    bool member = false;
    while (index < closeIndex && !member) {
        const unsigned char current = static_cast<unsigned char>(pattern[index]);
        if (current == '/') {
            // A "/" right before the ">" has nothing left to escape.
            if (index + 1 == closeIndex) break;
            member = static_cast<unsigned char>(pattern[index + 1]) == byte;
            index += 2;
        } else if (current == '-' && pattern[index - 1] != '<' && index + 1 < closeIndex) {
            // The bound before the "-" was also tested as a member on its
            // own (or is the "|" of a negated set); the bound after it is
            // consumed here.
            const unsigned char low = static_cast<unsigned char>(pattern[index - 1]);
            const unsigned char high = static_cast<unsigned char>(pattern[index + 1]);
            member = low <= byte && byte <= high;
            index += 2;
        } else {
            member = current == byte;
            ++index;
        }
    }
    if (member == negated) return SetResult::kNoMatch;
    *afterSet = closeIndex + 1;
    return SetResult::kMatch;
}

// Appends state to list unless the list is full; count is the list's length.
static void AddState(std::size_t* list, std::size_t* count, std::size_t state) {
    if (*count >= kMaxStateCount) return;
    list[*count] = state;
    ++*count;
    list[*count] = kNoState;
}

bool MatchWildcard(const char* pattern, const char* name) {
    if (pattern == nullptr || name == nullptr) return false;
    std::size_t current[kStateListSize];
    std::size_t expanded[kStateListSize];
    std::size_t currentCount = 0;
    current[0] = kNoState;
    AddState(current, &currentCount, 0);

    for (std::size_t nameIndex = 0;; ++nameIndex) {
        // Expansion: a state at a run of "*" may also have finished the run.
        std::size_t expandedCount = 0;
        expanded[0] = kNoState;
        for (std::size_t i = 0; current[i] != kNoState; ++i) {
            const std::size_t state = current[i];
            AddState(expanded, &expandedCount, state);
            if (pattern[state] != '*') continue;
            std::size_t afterRun = state;
            while (pattern[afterRun] == '*') ++afterRun;
            if (current[i + 1] != afterRun) AddState(expanded, &expandedCount, afterRun);
        }

        const unsigned char byte = static_cast<unsigned char>(name[nameIndex]);
        // The list is in increasing order, so its last state is the furthest.
        if (byte == 0) return pattern[expanded[expandedCount - 1]] == '\0';

        // Step: every expanded state moves over the name byte or dies.
        currentCount = 0;
        current[0] = kNoState;
        for (std::size_t i = 0; expanded[i] != kNoState; ++i) {
            const std::size_t state = expanded[i];
            const unsigned char patternByte = static_cast<unsigned char>(pattern[state]);
            if (patternByte == '*') {
                if (currentCount == 0 || current[currentCount - 1] != state) {
                    AddState(current, &currentCount, state);
                }
            } else if (patternByte == '?') {
                AddState(current, &currentCount, state + 1);
            } else if (patternByte == '/') {
                // A "/" at the end of the pattern is followed by the NUL,
                // which no name byte equals.
                if (static_cast<unsigned char>(pattern[state + 1]) == byte) {
                    AddState(current, &currentCount, state + 2);
                }
            } else if (patternByte == '<') {
                std::size_t afterSet = 0;
                const SetResult result = TestSet(pattern, state, byte, &afterSet);
                if (result == SetResult::kUnclosed) return false;
                if (result == SetResult::kMatch) AddState(current, &currentCount, afterSet);
            } else if (patternByte == byte) {
                AddState(current, &currentCount, state + 1);
            }
        }
        if (currentCount == 0) return false;
    }
}
