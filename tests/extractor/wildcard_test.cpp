// Tests of the pattern automaton that selects entries by their match path.
#include "extractor/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Row {
    const char* name;
    const char* pattern;
    const char* text;
    bool expected;
};

void RunRows(const Row* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(MatchWildcard(rows[i].pattern, rows[i].text), rows[i].expected)
            << "pattern \"" << rows[i].pattern << "\" name \"" << rows[i].text << "\"";
    }
}

TEST(WildcardMatch, StarsQuestionMarksAndPlainBytes) {
    const Row rows[] = {
        {"lone star, empty name", "*", "", true},
        {"lone star, root path", "*", "\\README.TXT", true},
        {"empty pattern, empty name", "", "", true},
        {"empty pattern, any name", "", "A", false},
        {"star covers the root's backslash", "*.EXE", "\\A.EXE", true},
        {"star covers directories", "*.EXE", "SUB\\DEEP\\A.EXE", true},
        {"star then a tail that is not there", "*.EXE", "\\A.EXEC", false},
        {"bare name misses the root entry", "A.EXE", "\\A.EXE", false},
        {"backslash name hits the root entry", "\\A.EXE", "\\A.EXE", true},
        {"question mark takes a backslash", "?", "\\", true},
        {"question mark needs a byte", "?", "", false},
        {"A? is two bytes, not one", "A?", "A", false},
        {"A? on two bytes", "A?", "AB", true},
        // Both "A"s of the name could be the pattern's "A": the first one
        // leads nowhere, so a single forward guess would fail.
        {"several live states: *AB", "*AB", "AAB", true},
        {"several live states: *A?C", "*A?C", "AABC", true},
        {"star inside the pattern", "\\*\\<A-C>*", "\\SUB\\BOOK.TXT", true},
        {"byte above 0x7F as a plain byte", "\\\xE5*", "\\\xE5ILE.TXT", true},
    };
    RunRows(rows, std::size(rows));
}

TEST(WildcardMatch, RunsOfStarsActAsOne) {
    const Row rows[] = {
        {"three stars between letters, nothing between", "A***B", "AB", true},
        {"three stars between letters, a run between", "A***B", "AXYZB", true},
        {"three stars still need the B", "A***B", "A", false},
        {"two runs", "**A**B**", "XAYB", true},
        {"two runs in the wrong order", "**A**B**", "XBYA", false},
    };
    RunRows(rows, std::size(rows));
}

TEST(WildcardMatch, SetsRangesAndNegation) {
    const Row rows[] = {
        {"range A-C, first byte A", "<A-C>*", "APPLE", true},
        {"range A-C, upper bound C", "<A-C>*", "CAT", true},
        {"range A-C, one past", "<A-C>*", "DOG", false},
        {"range then star, empty name", "<A-C>*", "", false},
        {"negated range, outside", "<|A-C>*", "DOG", true},
        {"negated range, inside", "<|A-C>*", "BOOK", false},
        {"negated range, empty name", "<|A-C>*", "", false},
        {"dash before > is a member: A", "<A->", "A", true},
        {"dash before > is a member: -", "<A->", "-", true},
        {"lone dash is a member", "<->", "-", true},
        {"dash after < is a member", "<-Z>", "-", true},
        {"dash after < makes no range", "<-Z>", "M", false},
        {"set without members", "<>", "A", false},
        {"negated empty set takes any byte", "<|>", "A", true},
        {"negated empty set takes one byte only", "<|>", "AB", false},
        // The "|" is the negation and the low bound: "<|-~>" holds nothing but
        // 0x7C..0x7E, the "-" being the range's.
        {"dash after | ranges from |: |", "<|-~>", "|", false},
        {"dash after | ranges from |: }", "<|-~>", "}", false},
        {"dash after | ranges from |: -", "<|-~>", "-", true},
        {"dash after | ranges from |: A", "<|-~>", "A", true},
        // A range's upper bound may start the next range.
        {"chained ranges, E", "<A-C-E>", "E", true},
        {"chained ranges, F", "<A-C-E>", "F", false},
        // Unsigned bounds: as signed bytes " -\xFF" would be the empty 32..-1.
        {"range up to 0xFF holds 0xE5", "< -\xFF>", "\xE5", true},
        {"range up to 0xFF holds A", "< -\xFF>", "A", true},
        {"range above 0x7F misses A", "<\x80-\xFF>", "A", false},
        {"star and ? are plain members", "<*?>", "?", true},
        {"< inside a set is a member", "<A<>", "<", true},
    };
    RunRows(rows, std::size(rows));
}

TEST(WildcardMatch, SlashEscapes) {
    const Row rows[] = {
        {"/* is a star", "/*", "*", true},
        {"/* is not a wildcard", "/*", "A", false},
        {"/* is one byte", "/*", "**", false},
        {"/? is a question mark", "/?", "?", true},
        {"// is one slash", "//", "/", true},
        {"// is not two slashes", "//", "//", false},
        {"/< is a plain <", "/<A>", "<A>", true},
        {"trailing / matches nothing", "A/", "A", false},
        {"escaped dash in a set: no range", "<A/-C>", "B", false},
        {"escaped dash in a set: the dash", "<A/-C>", "-", true},
        {"escaped dash in a set: C", "<A/-C>", "C", true},
        {"escaped | in a set: a member", "</|A>", "|", true},
        {"escaped | in a set: no negation", "</|A>", "B", false},
        {"escaped slash in a set", "<//>", "/", true},
        {"slash before > adds no member: A", "<A/>", "A", true},
        {"slash before > adds no member: /", "<A/>", "/", false},
    };
    RunRows(rows, std::size(rows));
}

TEST(WildcardMatch, UnclosedSetFailsTheWholeMatch) {
    const Row rows[] = {
        {"A*<B, name AB", "A*<B", "AB", false},
        {"A*<B, name A", "A*<B", "A", false},
        {"A*<B, name B", "A*<B", "B", false},
        {"lone <", "<", "<", false},
        {"unclosed negation", "<|", "A", false},
        {"star then unclosed set", "*<", "X", false},
    };
    RunRows(rows, std::size(rows));
}

TEST(WildcardMatch, MissingPatternOrNameIsNoMatch) {
    EXPECT_FALSE(MatchWildcard(nullptr, "\\A.TXT"));
    EXPECT_FALSE(MatchWildcard("*", nullptr));
}

std::string Repeat(const char* piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
}

// "*A" repeated n times against n letters A: after k letters the states are
// the k + 1 stars 0, 2, ..., 2k, and the expansion adds the A after each,
// 2k + 2 states. Before the last letter that is 2 x 10 = 20 states for
// n = 10, and at the end 11 stars' positions 0..20 with 20 the pattern's end:
// 21 states, the most a list holds.
TEST(WildcardMatch, TwentyOneStatesStillMatch) {
    const std::string pattern = Repeat("*A", 10);
    EXPECT_TRUE(MatchWildcard(pattern.c_str(), std::string(10, 'A').c_str()));
    EXPECT_TRUE(MatchWildcard(pattern.c_str(), "\\XAAAAAAAAAA"));
    EXPECT_FALSE(MatchWildcard(pattern.c_str(), std::string(9, 'A').c_str()));
}

// With n = 11 the expansion after ten letters would need 22 states: the
// furthest (the last A's position 21) is dropped, so the pattern's end is
// never reached and the match fails, without touching anything past the lists.
TEST(WildcardMatch, StatesBeyondTwentyOneAreDropped) {
    const std::string pattern = Repeat("*A", 11);
    EXPECT_FALSE(MatchWildcard(pattern.c_str(), std::string(11, 'A').c_str()));

    const std::string longPattern = Repeat("*A", 200) + Repeat("<A-Z>", 30);
    EXPECT_FALSE(MatchWildcard(longPattern.c_str(), std::string(400, 'A').c_str()));
    // One A in the name starts one state besides the star's: a long pattern
    // as such needs no more than two.
    const std::string longLiteral = "A" + std::string(299, 'B');
    EXPECT_TRUE(MatchWildcard(("*" + longLiteral).c_str(), ("\\" + longLiteral).c_str()));
    // Here every A of "ABAB..." starts a state that stays alive; past 21 the
    // furthest one, the only one that could reach the end, is dropped.
    const std::string periodic = Repeat("AB", 30);
    EXPECT_TRUE(MatchWildcard(("*" + Repeat("AB", 10)).c_str(), periodic.c_str()));
    EXPECT_FALSE(MatchWildcard(("*" + periodic).c_str(), ("\\" + periodic).c_str()));
}

}  // namespace
