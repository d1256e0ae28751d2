// Tests of the self-creating diskette's run on the scripted drive: the keys
// at its prompts, the selection of one diskette, listing, waiting, faults
// while writing, the payload header and the description box.
#include "selfdisk/selfdisk_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "console/keys.h"
#include "diskette/write_pipeline.h"
#include "image/image_format.h"
#include "tests/diskette/key_queue.h"
#include "tests/extractor/program_helper.h"
#include "tests/pipeline/scripted_device.h"
#include "tests/selfdisk/payload_helper.h"
#include "tests/support/capture.h"

namespace {

using Lines = std::vector<std::string>;

constexpr std::size_t kTrackSideBytes = 18 * 512;   // a 1.44 MB diskette's track side

struct RunOutcome {
    int exitCode = -1;
    std::string output;                  // console output: no colour pairs, lines end in LF
    Lines messages;                      // "message <flags> <code> <text>", in order
    int disketteWrites = 0;              // diskettes written (each writes track side 0/0 once)
    std::vector<std::uint8_t> firstTrackSide;   // the drive's track side 0 at the end
};

RunOutcome RunOnScriptedDrive(const std::vector<std::string>& arguments, const std::string& path,
                              const DriveScript& script = DriveScript{}) {
    ResetDrive(script);
    ClearKeys();
    SetProgressWording(InfoLineWording::kSelfDisk);
    std::vector<std::string> words = {"selfdisk"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argumentPointers;
    for (std::string& word : words) argumentPointers.push_back(word.data());
    argumentPointers.push_back(nullptr);
    RunOutcome outcome;
    outcome.output = CaptureOutput([&] {
        outcome.exitCode = RunSelfDisk(static_cast<int>(words.size()), argumentPointers.data(),
                                       path.c_str(), path.c_str(), "selfdisk");
    });
    outcome.messages = DriveLogLines("message");
    const Lines writes = DriveLogLines("write");
    outcome.disketteWrites = static_cast<int>(std::count(writes.begin(), writes.end(), "write 0/0"));
    const auto found = DriveContents().find(0);
    if (found != DriveContents().end()) outcome.firstTrackSide = found->second;
    return outcome;
}

DriveScript KeysAtPrompts(const std::vector<std::vector<int>>& keys) {
    DriveScript script;
    script.keysAtPrompts = keys;
    return script;
}

const std::vector<std::string> kLabels = {"DISK ONE", "DISK TWO", "DISK THREE"};

std::vector<std::uint8_t> SparseImage(const std::string& label) {
    return WrapNative(LabelledDiskette(label), NativeWith(true, true));
}

// What track side 0 of diskette number (1-based) holds.
std::vector<std::uint8_t> FirstTrackSideOf(int number) {
    const FatImage diskette = LabelledDiskette(kLabels[static_cast<std::size_t>(number - 1)]);
    return std::vector<std::uint8_t>(diskette.bytes.begin(),
                                     diskette.bytes.begin() + kTrackSideBytes);
}

// 8192 zero bytes: no recognizer accepts them, so reading them is reported.
const std::vector<std::uint8_t> kUnreadableImage(8192, 0);

// The file of a self-creating diskette with count images, the first ones
// readable (DISK ONE ...), the rest unreadable.
TempFile PayloadFile(std::uint8_t count, std::size_t readable, const std::string& description = "") {
    std::vector<std::vector<std::uint8_t>> images;
    for (std::size_t i = 0; i < count; ++i) {
        images.push_back(i < readable ? SparseImage(kLabels[i]) : kUnreadableImage);
    }
    return TempFile(WithPayload(StandInProgram(), PayloadBytes(count, description, images)));
}

std::string Prompt(int number, const char* drive = "A:") {
    return "message 0x8FFFF 0 Insert diskette #" + std::to_string(number) + " into '" + drive +
           "' - ENTER=Continue  S=Skip  ESC=Cancel\r";
}
std::string Waiting(int number) {
    return "message 0x8FFFF 0 WAITING for diskette #" + std::to_string(number) +
           " in 'A:'...  ESC=Cancel\r";
}
std::string Skipped(int number) {
    return "message 0x40000 0 Diskette #" + std::to_string(number) + " skipped.";
}
const std::string kCanceled = "message 0x10000 0 Process canceled.";

TEST(SelfDiskLoop, KeysAtThePromptsWriteSkipOrCancel) {
    TempFile file = PayloadFile(2, 2);
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::vector<std::vector<int>> keys;   // typed at the first, second ... prompt
        Lines messages;
        int written;                          // diskettes written
        int lastWritten;                      // the one the drive holds at the end, 0 none
    };
    const Row rows[] = {
        {"ENTER at each prompt writes both", {}, {{kKeyEnter}, {kKeyEnter}},
         {Prompt(1), Prompt(2)}, 2, 2},
        {"S skips the first, ENTER writes the second", {}, {{'S'}, {kKeyEnter}},
         {Prompt(1), Skipped(1), Prompt(2)}, 1, 2},
        {"s skips as well, other keys are ignored", {}, {{'x', kKeyNone, 's'}, {'q', kKeyEnter}},
         {Prompt(1), Skipped(1), Prompt(2)}, 1, 2},
        {"S at both prompts writes nothing", {}, {{'S'}, {'s'}},
         {Prompt(1), Skipped(1), Prompt(2), Skipped(2)}, 0, 0},
        {"ESC at the first prompt", {}, {{kKeyEsc}}, {Prompt(1), kCanceled}, 0, 0},
        {"ESC at the second prompt after the first was written", {}, {{kKeyEnter}, {kKeyEsc}},
         {Prompt(1), Prompt(2), kCanceled}, 1, 1},
        {"a lower-case drive name is shown upper-cased", {"b:"}, {{kKeyEnter}, {'S'}},
         {Prompt(1, "B:"), Prompt(2, "B:"), Skipped(2)}, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RunOutcome outcome = RunOnScriptedDrive(row.arguments, file.Path(), KeysAtPrompts(row.keys));
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.messages, row.messages);
        EXPECT_EQ(outcome.disketteWrites, row.written);
        if (row.lastWritten != 0) {
            EXPECT_EQ(outcome.firstTrackSide, FirstTrackSideOf(row.lastWritten));
        }
    }
}

// /N:n writes diskette n alone. The images before it are read without a
// prompt; the run ends after it, so an unreadable image after it is never
// read.
TEST(SelfDiskLoop, SelectionWritesOneDisketteAndEndsAfterIt) {
    struct Row {
        const char* name;
        std::uint8_t count;
        std::size_t readable;
        const char* option;
        int selected;
    };
    const Row rows[] = {
        {"/N:2 of three, the third unreadable", 3, 2, "/N:2", 2},
        {"/n:1 of two, the second unreadable", 2, 1, "/n:1", 1},
        {"/N:3 of three: the first two read silently", 3, 3, "/N:3", 3},
        {"the number read like atoi: blanks, a sign, then digits", 3, 2, "/N: +2x", 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFile file = PayloadFile(row.count, row.readable);
        RunOutcome outcome =
            RunOnScriptedDrive({row.option}, file.Path(), KeysAtPrompts({{kKeyEnter}}));
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.messages, Lines({Prompt(row.selected)}));
        EXPECT_EQ(outcome.disketteWrites, 1);
        EXPECT_EQ(outcome.firstTrackSide, FirstTrackSideOf(row.selected));
        // Only the selected diskette shows its info line.
        for (int number = 1; number <= row.count; ++number) {
            const std::string infoLine = "Diskette  " + std::to_string(number) + ": ";
            EXPECT_EQ(outcome.output.find(infoLine) != std::string::npos, number == row.selected)
                << infoLine;
        }
    }
}

TEST(SelfDiskLoop, ASelectionOutsideTheCountIsRefusedAfterTheDescription) {
    TempFile file = PayloadFile(3, 3, "three");
    struct Row {
        const char* option;
        const char* message;
    };
    // %u of the number as given: -1 is 2^32 - 1, past INT32_MAX it stays there.
    const Row rows[] = {
        {"/N:0", "Invalid diskette #0 (only 1 to 3)."},
        {"/N:4", "Invalid diskette #4 (only 1 to 3)."},
        {"/N:", "Invalid diskette #0 (only 1 to 3)."},
        {"/N:X1", "Invalid diskette #0 (only 1 to 3)."},
        {"/N:-1", "Invalid diskette #4294967295 (only 1 to 3)."},
        {"/N:99999999999", "Invalid diskette #2147483647 (only 1 to 3)."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.option);
        RunOutcome outcome = RunOnScriptedDrive({row.option}, file.Path(), KeysAtPrompts({{13}}));
        EXPECT_EQ(outcome.exitCode, 3);
        EXPECT_EQ(outcome.messages, Lines({std::string("message 0x10000 0 ") + row.message}));
        EXPECT_EQ(outcome.disketteWrites, 0);
        EXPECT_NE(outcome.output.find("\xB3three"), std::string::npos);
    }
}

// /D reads every image and shows its info line; it asks for nothing and
// never opens the drive. An unreadable image ends the listing with 3.
TEST(SelfDiskLoop, ListingShowsEveryDisketteAndTouchesNoDrive) {
    struct Row {
        const char* name;
        std::size_t readable;
        int exitCode;
    };
    const Row rows[] = {{"three readable images", 3, 0}, {"the third unreadable", 2, 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFile file = PayloadFile(3, row.readable);
        RunOutcome outcome = RunOnScriptedDrive({"/d", "/S"}, file.Path());
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_TRUE(DriveLogLines("open").empty());
        const std::string listing =
            "Diskette  1: DISK ONE   , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n"
            "Diskette  2: DISK TWO   , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n";
        EXPECT_NE(outcome.output.find(listing), std::string::npos) << outcome.output;
        EXPECT_EQ(outcome.output.find("Diskette  3: DISK THREE") != std::string::npos,
                  row.readable == 3);
        const Lines expected =
            row.readable == 3
                ? Lines{}
                : Lines{"message 0x10000 0 '" + file.Path() +
                        "' contains image data which can not be handled."};
        EXPECT_EQ(outcome.messages, expected);
    }
}

// With /S the first diskette is taken as it is found; from then on a
// diskette counts only once the drive has been seen empty. The scripted
// drive never is, and presses ESC after 50 pauses.
TEST(SelfDiskLoop, WaitingTakesTheFirstDisketteAtOnceAndNotTheSameOneAgain) {
    TempFile file = PayloadFile(2, 2);
    RunOutcome outcome = RunOnScriptedDrive({"/S"}, file.Path());
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.messages, Lines({Waiting(1), Waiting(2), kCanceled}));
    EXPECT_EQ(outcome.disketteWrites, 1);
    EXPECT_EQ(DriveLogLines("pause").size(), static_cast<std::size_t>(kPauseLimit));
}

TEST(SelfDiskLoop, FormatVerifyAndWriteAllReachTheWritePipeline) {
    TempFile file = PayloadFile(1, 1);
    RunOutcome outcome =
        RunOnScriptedDrive({"/f", "-V", "/A"}, file.Path(), KeysAtPrompts({{kKeyEnter}}));
    EXPECT_EQ(outcome.exitCode, 0);
    // 80 tracks x 2 sides: every track side formatted, written and read back.
    EXPECT_EQ(DriveLogLines("format").size(), 160u);
    EXPECT_EQ(DriveLogLines("write").size(), 160u);
    EXPECT_EQ(DriveLogLines("read").size(), 160u);
    EXPECT_TRUE(DriveLogLines("geometry").empty());
}

// Each failure ends the run with 3 at once: the next diskette is not asked for.
TEST(SelfDiskLoop, AFailureWhileWritingEndsTheRun) {
    TempFile file = PayloadFile(2, 2);
    struct Row {
        const char* name;
        DriveScript script;
        Lines messages;
    };
    DriveScript writeFails = KeysAtPrompts({{kKeyEnter}, {kKeyEnter}});
    writeFails.failures.push_back({DriveStep::kWrite, 29, 0, 1, 1});
    DriveScript escWhileWriting = KeysAtPrompts({{kKeyEnter}, {kKeyEnter}});
    escWhileWriting.keys.push_back({0, 0, kKeyEsc});
    const Row rows[] = {
        {"a write error", writeFails,
         {Prompt(1), "message 0x10000 29 Write error on track no. 1, side 1."}},
        {"ESC while the first diskette is written", escWhileWriting, {Prompt(1), kCanceled}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RunOutcome outcome = RunOnScriptedDrive({}, file.Path(), row.script);
        EXPECT_EQ(outcome.exitCode, 3);
        EXPECT_EQ(outcome.messages, row.messages);
        EXPECT_EQ(OpenHandleCount(), 0);
    }
}

// A count larger than the images the file holds: the diskettes there are
// written, and the first image that is not there ends the run with the
// reader's message.
TEST(SelfDiskLoop, ACountBeyondTheImagesEndsAtTheFirstMissingImage) {
    std::vector<std::vector<std::uint8_t>> images = {SparseImage(kLabels[0])};
    TempFile file(WithPayload(StandInProgram(), PayloadBytes(2, "", images)));
    RunOutcome outcome =
        RunOnScriptedDrive({}, file.Path(), KeysAtPrompts({{kKeyEnter}, {kKeyEnter}}));
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(outcome.messages,
              Lines({Prompt(1), Prompt(2),
                     "message 0x10000 0 The header of the image data from '" + file.Path() +
                         "' could not be read."}));
    EXPECT_EQ(outcome.disketteWrites, 1);
}

// The payload header's faults, each in a file of its own. The stand-in
// program is 64 bytes long: the payload starts at 64.
TEST(SelfDiskPayload, HeaderFaultsGiveNoDisketteOrTheHeaderMessage) {
    const std::string headerMessage =
        "message 0x10000 30 The header of the image data from 'selfdisk' could not be read.";
    std::vector<std::uint8_t> beyondTheEnd = StandInProgram();
    PutLe32(beyondTheEnd, kOffsetFieldAt, 64 + 1000);
    std::vector<std::uint8_t> lengthBeyondTheEnd =
        WithPayload(StandInProgram(), {1, 200, 'o', 'n', 'l', 'y', ' ', 't', 'e', 'n', '.', '.'});
    std::vector<std::uint8_t> countOnly = WithPayload(StandInProgram(), {2});
    std::vector<std::uint8_t> tooShortForTheField(kOffsetFieldAt + 3, 0);
    struct Row {
        const char* name;
        std::vector<std::uint8_t> file;
        std::string shown;                   // after the banner
        int exitCode;
        bool headerMessage;                  // else no message at all, or the reader's
    };
    const Row rows[] = {
        {"a payload offset beyond the end of the file", beyondTheEnd,
         "File contains 0 diskette(s), no description was included\n", 0, false},
        {"a description length beyond the end of the file", lengthBeyondTheEnd, "", 3, true},
        {"a file too short for the offset field", tooShortForTheField, "", 3, true},
        {"a count and then the end: no description, the first image missing", countOnly,
         "File contains 2 diskette(s), no description was included\n", 3, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFile file(row.file);
        RunOutcome outcome = RunOnScriptedDrive({"/D"}, file.Path());
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        const std::size_t bannerEnd = outcome.output.find("help \n") + 6;
        EXPECT_EQ(outcome.output.substr(bannerEnd), row.shown);
        if (row.headerMessage) {
            EXPECT_EQ(outcome.messages, Lines({headerMessage}));
        } else if (row.exitCode == 0) {
            EXPECT_TRUE(outcome.messages.empty());
        }
    }
}

// A path longer than the name field is not opened cut short: the
// beginning that fits (259 characters) might name another file.
TEST(SelfDiskPayload, AFileThatCannotBeOpenedIsReportedByItsPath) {
    // A payload file whose path is exactly 259 characters long, and a longer
    // path that begins with it.
    std::string fitting = ::testing::TempDir() + "selfdisk-test-" + std::to_string(getpid()) + "-";
    ASSERT_LT(fitting.size(), 259u) << "TMPDIR is too long for this test";
    fitting += std::string(259 - fitting.size(), 'x');
    WriteBytes(fitting, ReadBytes(PayloadFile(1, 1).Path()));
    const std::string longPath = fitting + "/selfdisk";
    struct Row {
        const char* name;
        std::string path;
        std::string shownPath;
    };
    const Row rows[] = {
        {"a missing file", "/nonexistent/selfdisk", "/nonexistent/selfdisk"},
        {"a path too long for the name field", longPath, longPath.substr(0, 259)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RunOutcome outcome = RunOnScriptedDrive({}, row.path);
        EXPECT_EQ(outcome.exitCode, 3);
        EXPECT_EQ(outcome.messages, Lines({"message 0x10000 0 Image data of '" + row.shownPath +
                                           "' could not be accessed."}));
    }
    std::remove(fitting.c_str());
}

// The box as console print leaves it (colour pairs dropped here), worked out
// by hand: 62 columns, 0xDA 0xC4 "Description" 0xC4, the count in
// "[%2u diskette(s) included]" (25 columns for one or two digits), 22 x
// 0xC4, 0xBF; each line 0xB3, the text padded to 60, 0xB3; 0xC0, 60 x 0xC4,
// 0xD9.
TEST(SelfDiskPayload, DescriptionBoxByteForByte) {
    const std::string rule22(22, '\xC4');
    const std::string bottom = "\xC0" + std::string(60, '\xC4') + "\xD9\n";
    auto boxed = [](const std::string& text) {
        return "\xB3" + text + std::string(text.size() < 60 ? 60 - text.size() : 0, ' ') + "\xB3\n";
    };
    const std::string long255(255, 'L');
    struct Row {
        const char* name;
        std::uint8_t count;
        std::string description;
        std::string box;
    };
    const Row rows[] = {
        {"two lines, three diskettes", 3, "First line\nSecond line",
         "\xDA\xC4" "Description\xC4[ 3 diskette(s) included]" + rule22 + "\xBF\n" +
             boxed("First line") + boxed("Second line") + bottom},
        {"a three-digit count makes the top line one column wider", 100, "x",
         "\xDA\xC4" "Description\xC4[100 diskette(s) included]" + rule22 + "\xBF\n" +
             boxed("x") + bottom},
        {"a final LF gives an empty last line", 12, "a\n",
         "\xDA\xC4" "Description\xC4[12 diskette(s) included]" + rule22 + "\xBF\n" + boxed("a") +
             boxed("") + bottom},
        {"255 bytes without LF push the right border out", 1, long255,
         "\xDA\xC4" "Description\xC4[ 1 diskette(s) included]" + rule22 + "\xBF\n" +
             "\xB3" + long255 + "\xB3\n" + bottom},
        {"no diskette but a description", 0, "empty",
         "\xDA\xC4" "Description\xC4[ 0 diskette(s) included]" + rule22 + "\xBF\n" +
             boxed("empty") + bottom},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // No images follow: the run ends after the box, with 3 when the
        // count promises one.
        TempFile file(WithPayload(StandInProgram(), PayloadBytes(row.count, row.description, {})));
        RunOutcome outcome = RunOnScriptedDrive({"/D"}, file.Path());
        const std::size_t bannerEnd = outcome.output.find("help \n") + 6;
        EXPECT_EQ(outcome.output.substr(bannerEnd), row.box);
        EXPECT_EQ(outcome.exitCode, row.count == 0 ? 0 : 3);
    }
}

TEST(SelfDiskCommandLine, NumbersAreReadLikeAtoi) {
    struct Row {
        const char* text;
        std::int32_t value;
    };
    const Row rows[] = {
        {"12", 12},           {"  7", 7},           {"\t-3", -3},
        {"+5", 5},            {"2x", 2},            {"x2", 0},
        {"", 0},              {"-", 0},             {" - 3", 0},
        {"007", 7},           {"2147483647", 2147483647},
        {"2147483648", 2147483647},                 {"99999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},           {"-99999999999", -2147483647 - 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ReadNumberLikeAtoi(row.text), row.value);
    }
}

}  // namespace
