// Tests of the image extractor's command line: switches, spans, help text
// and exit codes, in process and through the program itself.
#include "extractor/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

struct Parsed {
    int ok;
    ExtractorRunState state;
};

Parsed Parse(std::vector<std::string> words) {
    static std::vector<std::string> storage;
    static std::vector<char*> vector;
    storage = std::move(words);
    storage.insert(storage.begin(), "imgextract");
    vector.clear();
    for (std::string& word : storage) vector.push_back(word.data());
    vector.push_back(nullptr);
    Parsed parsed{};
    StartExtractorRun(&parsed.state, static_cast<int>(storage.size()), vector.data());
    parsed.ok = ParseExtractorArguments(&parsed.state);
    return parsed;
}

TEST(ExtractorCommandLine, SetsFlagsSpansAndDirectory) {
    struct Row {
        const char* name;
        std::vector<std::string> words;
        bool listing, junk, never, all;
        const char* image;
        const char* directory;   // nullptr: the current directory
        int includeFirst, includeLast, excludeFirst, excludeLast;
    };
    const Row rows[] = {
        {"image only", {"a.img"}, false, false, false, false, "a.img", nullptr, -1, 1, -1, 1},
        {"all switches", {"-v", "/j", "-n", "-o", "a.img"}, true, true, true, true, "a.img",
         nullptr, -1, 5, -1, 5},
        {"help example: include, exclude, directory",
         {"EXAMPLE.IMG", "*.d*", "*.exe", "-x", "*.dat", "*.ddd", "-d", "C:\\EXAMPLE"},
         false, false, false, false, "EXAMPLE.IMG", "C:\\EXAMPLE", 2, 3, 5, 8},
        {"image then x: no include list", {"a.img", "-x", "*.TXT"}, false, false, false, false,
         "a.img", nullptr, -1, 1, 3, 3},
        {"d before the image", {"-d", "out", "a.img", "P*"}, false, false, false, false, "a.img",
         "out", 4, 4, -1, 4},
        {"d twice: the second wins", {"a.img", "-d", "one", "-d", "two"}, false, false, false,
         false, "a.img", "two", -1, 5, -1, 5},
        {"d inside the include span", {"a.img", "P1", "-d", "o", "P2"}, false, false, false,
         false, "a.img", "o", 2, 5, -1, 5},
        {"absolute image path and slash patterns", {"/tmp/a.img", "/?*", "/V"}, false, false,
         false, false, "/tmp/a.img", nullptr, 2, 3, -1, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Parsed parsed = Parse(row.words);
        EXPECT_EQ(parsed.ok, 1);
        EXPECT_EQ(parsed.state.listingMode, row.listing);
        EXPECT_EQ(parsed.state.junkPaths, row.junk);
        EXPECT_EQ(parsed.state.neverOverwrite, row.never);
        EXPECT_EQ(parsed.state.overwriteAll, row.all);
        EXPECT_STREQ(parsed.state.imageFileName, row.image);
        if (row.directory != nullptr) {
            EXPECT_STREQ(parsed.state.extractionDirectory, row.directory);
        } else {
            EXPECT_NE(parsed.state.extractionDirectory[0], '\0');
        }
        EXPECT_EQ(parsed.state.includeFirst, row.includeFirst);
        EXPECT_EQ(parsed.state.includeLast, row.includeLast);
        EXPECT_EQ(parsed.state.excludeFirst, row.excludeFirst);
        EXPECT_EQ(parsed.state.excludeLast, row.excludeLast);
    }
}

ChildResult RunExtractor(const std::vector<std::string>& words) {
    std::vector<std::string> arguments = {IMGEXTRACT_PATH};
    arguments.insert(arguments.end(), words.begin(), words.end());
    return RunProgram(arguments, ChildOptions{});
}

const char kBanner[] =
    "VELMORATRAX's image file extractor for Windows NT\nVersion 1.0b\n";

TEST(ExtractorProgram, NoArgumentsShowsHelpWithExitCodeOne) {
    ChildResult result = RunExtractor({});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output.find(kBanner), 0u);
    EXPECT_NE(result.output.find("Usage:\timgextract [options] file list [-x xl] [-d exdir]\n"
                                 "file:\tName of the image file "
                                 "(VELMORATRAX,SAVEDSKF,DSKIMAGE,VMDISK)\n"),
              std::string::npos);
    EXPECT_NE(result.output.find("example:\timgextract -v EXAMPLE.DSK\n"
                                 "\t\timgextract EXAMPLE.IMG *.d* *.exe -x *.dat *.ddd "
                                 "-d C:\\EXAMPLE\n\n"),
              std::string::npos);
    EXPECT_EQ(result.output.find('\x1b'), std::string::npos);   // redirected: no colour pairs
}

TEST(ExtractorProgram, RefusesBadCommandLinesWithExitCodeThree) {
    struct Row {
        const char* name;
        std::vector<std::string> words;
        const char* message;   // nullptr: the help text instead
    };
    const Row rows[] = {
        {"upper-case switch", {"-V", "a.img"}, "\nUnknown or misplaced parameter '-V'.\n"},
        {"switch after the image", {"a.img", "-v"}, "\nUnknown or misplaced parameter '-v'.\n"},
        {"longer switch word", {"-vj", "a.img"}, "\nUnknown or misplaced parameter '-vj'.\n"},
        {"lone dash", {"a.img", "-"}, "\nUnknown or misplaced parameter '-'.\n"},
        {"second x", {"a.img", "-x", "A", "/x", "B"},
         "\nUnknown or misplaced parameter '/x'.\n"},
        {"d without directory", {"a.img", "-d"},
         "\nParameter for extraction directory is missing.\n"},
        // An unset variable in a script ("-d $DIR") must not mean the root
        // of the file system; refused before the image is looked at, even
        // when a later -d would replace it or nothing is to be extracted.
        {"d with an empty directory", {"a.img", "-d", "", "P*"},
         "\nParameter for extraction directory is missing.\n"},
        {"empty d replaced later", {"-d", "", "a.img", "-d", "out"},
         "\nParameter for extraction directory is missing.\n"},
        {"empty d while listing", {"-v", "a.img", "-d", ""},
         "\nParameter for extraction directory is missing.\n"},
        {"only switches", {"-v", "-o"}, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ChildResult result = RunExtractor(row.words);
        EXPECT_EQ(result.exitCode, 3);
        if (row.message != nullptr) {
            EXPECT_EQ(result.output, std::string(kBanner) + row.message);
        } else {
            EXPECT_NE(result.output.find("Usage:"), std::string::npos);
        }
    }
}

TEST(ExtractorProgram, RefusesArgumentsLongerThanTheirFields) {
    std::string longName(300, 'n');
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{longName}, std::vector<std::string>{"a.img", "-d", longName}}) {
        ChildResult result = RunExtractor(words);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_NE(result.output.find("Parameter too long (more than 259 characters): 'nnn"),
                  std::string::npos);
        EXPECT_EQ(result.output.find("Usage:"), std::string::npos);
    }
    Parsed fits = Parse({std::string(259, 'f')});
    EXPECT_EQ(fits.ok, 1);
}

TEST(ExtractorProgram, AnswersHelpAndVersionWithExitCodeZero) {
    const std::string help = RunExtractor({}).output;   // banner and help text
    ASSERT_NE(help.find("\n--help shows this text, --version the version; both end with exit "
                        "code 0.\n"),
              std::string::npos);
    struct Row {
        const char* name;
        std::vector<std::string> words;
        int exitCode;
        std::string output;   // whole, or the beginning when endsThere is false
        bool endsThere;
    };
    const Row rows[] = {
        {"help alone", {"--help"}, 0, help, true},
        {"version alone: the banner's two lines", {"--version"}, 0, kBanner, true},
        {"help after a switch", {"-v", "--help"}, 0, help, true},
        {"version after the image name: nothing is read", {"a.img", "--version"}, 0, kBanner,
         true},
        {"the first of the two counts", {"--version", "--help"}, 0, kBanner, true},
        {"before a bad argument is seen", {"-X", "--help"}, 0, help, true},
        {"compared whole and exactly", {"--HELP"}, 3,
         std::string(kBanner) + "\nUnknown or misplaced parameter '--HELP'.\n", true},
        {"the directory of -d is a name", {"missing.img", "-d", "--help"}, 3,
         std::string(kBanner) + "Reading image file missing.img ...\n", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ChildResult result = RunExtractor(row.words);
        EXPECT_EQ(result.exitCode, row.exitCode);
        if (row.endsThere) {
            EXPECT_EQ(result.output, row.output);
        } else {
            EXPECT_EQ(result.output.substr(0, row.output.size()), row.output);
        }
    }
}

}  // namespace
