// Tests of the bounded text helpers: what fits, and where a text is cut.
#include "console/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Joins the pieces into a field of fieldSize bytes inside a larger buffer
// filled with 'x', so that a byte written past the field shows.
struct JoinResult {
    std::string text;
    std::size_t length;
    bool allFitted;
    bool outsideUntouched;
};

JoinResult Join(std::size_t fieldSize, std::initializer_list<const char*> pieces) {
    char buffer[40];
    std::memset(buffer, 'x', sizeof(buffer));
    char* field = buffer + 4;
    std::size_t length = 0;
    if (fieldSize > 0) field[0] = '\0';
    bool allFitted = true;
    for (const char* piece : pieces) allFitted = AppendToField(field, fieldSize, &length, piece) && allFitted;
    bool untouched = std::memcmp(buffer, "xxxx", 4) == 0;
    for (std::size_t i = 4 + fieldSize; i < sizeof(buffer); ++i) untouched = untouched && buffer[i] == 'x';
    return {fieldSize > 0 ? std::string(field) : std::string(), length, allFitted, untouched};
}

TEST(AppendToField, JoinsWhatFitsAndCutsTheRestAsSnprintfWould) {
    struct Row {
        const char* name;
        std::size_t fieldSize;
        std::initializer_list<const char*> pieces;
        const char* expected;
        std::size_t expectedLength;
        bool expectedFitted;
    };
    const Row rows[] = {
        // "ab" + "/" + "cd" = 5 characters and the NUL: 6 bytes.
        {"fits exactly", 6, {"ab", "/", "cd"}, "ab/cd", 5, true},
        {"one byte short cuts the last character", 5, {"ab", "/", "cd"}, "ab/c", 4, false},
        {"a full field takes nothing more", 3, {"ab", "cd", ""}, "ab", 2, false},
        {"empty pieces", 4, {"", "", ""}, "", 0, true},
        {"room for the NUL only", 1, {"a"}, "", 0, false},
        {"no field at all", 0, {"a"}, "", 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const JoinResult result = Join(row.fieldSize, row.pieces);
        EXPECT_EQ(result.text, row.expected);
        EXPECT_EQ(result.length, row.expectedLength);
        EXPECT_EQ(result.allFitted, row.expectedFitted);
        EXPECT_TRUE(result.outsideUntouched);
    }
}

TEST(CopyText, ReplacesTheFieldAndSaysWhetherTheTextFitted) {
    char field[4] = {'x', 'x', 'x', 'x'};
    EXPECT_TRUE(CopyText(field, sizeof(field), "abc"));
    EXPECT_STREQ(field, "abc");
    EXPECT_FALSE(CopyText(field, sizeof(field), "defg"));
    EXPECT_STREQ(field, "def");
    EXPECT_TRUE(CopyText(field, sizeof(field), ""));
    EXPECT_STREQ(field, "");
}

}  // namespace
