// Tests of the progress display: which cell each event fills, the fill
// characters, the info line and header once per diskette, the words of the
// bar line, listing and skipped diskettes.
#include "diskette/write_pipeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image_format.h"
#include "tests/support/capture.h"
#include "tests/support/image_builder.h"
#include "tests/support/process.h"

namespace {

constexpr std::size_t kBarCells = 25;
const std::string kOpenCells(23, '\xFE');

// A formatted diskette as the reader leaves it, its record pointing into it.
class BuiltImage {
public:
    BuiltImage(DisketteSize size, const std::string& label)
        : image_(FormatImage(StandardLayout(size), label)), record{} {
        ParametersFromBootSector(image_.bytes.data(), &record.parameters);
        record.trackCount = TrackCount(image_.layout);
        record.imageBuffer = image_.bytes.data();
    }
    BuiltImage(const BuiltImage&) = delete;
    BuiltImage& operator=(const BuiltImage&) = delete;

private:
    FatImage image_;

public:
    ImageRecord record;
};

std::string Show(std::uint32_t track, std::uint32_t side, ProgressAction action,
                 ImageRecord* record) {
    return CaptureOutput([&] { ShowProgress(track, side, action, record); });
}

// The state after the reader's first events on a two-sided diskette: reset,
// then track 0's last side read, which prints the info line and the header
// (dropped here) and fills cell 0 with the light shade.
void PrimeBar(ImageRecord* record) {
    (void)Show(0, 0, ProgressAction::kReset, record);
    (void)Show(0, 1, ProgressAction::kTrackSideRead, record);
}

// The 25 cells of a bar line.
std::string BarOf(const std::string& line) { return line.substr(0, kBarCells); }

std::string Padded(const std::string& word, std::size_t width) {
    return word + std::string(width - word.size(), ' ');
}

TEST(ProgressBar, EachEventFillsTheCellOfThePerCentItCompletes) {
    // 80 tracks x 2 sides = 160 track sides. Track side i completes
    // (i + 1) x 100 / 160 per cent, rounded down, and fills cell per cent / 4:
    //   i = 0:   100 / 160 = 0    -> cell 0
    //   i = 5:   600 / 160 = 3    -> cell 0
    //   i = 6:   700 / 160 = 4    -> cell 1
    //   i = 12:  1300 / 160 = 8   -> cell 2
    //   i = 19:  2000 / 160 = 12  -> cell 3
    //   i = 79:  8000 / 160 = 50  -> cell 12
    //   i = 152: 15300 / 160 = 95 -> cell 23
    //   i = 153: 15400 / 160 = 96 -> cell 24
    //   i = 158: 15900 / 160 = 99 -> cell 24
    //   i = 159: 16000 / 160 = 100 -> cell 25: past the bar, none
    struct Row {
        std::uint32_t trackSide;
        int cell;   // -1: none
    };
    const Row rows[] = {{0, 0},    {5, 0},    {6, 1},    {12, 2},   {19, 3},
                        {79, 12},  {152, 23}, {153, 24}, {158, 24}, {159, -1}};
    BuiltImage image(DisketteSize::k1440, "NO NAME");
    for (const Row& row : rows) {
        SCOPED_TRACE("track side " + std::to_string(row.trackSide));
        PrimeBar(&image.record);
        (void)Show(0, 0, ProgressAction::kWritingBegins, &image.record);
        std::string expected = "\xB0" + kOpenCells + "]";
        if (row.cell >= 0) expected[static_cast<std::size_t>(row.cell)] = '\xDB';
        const std::string line =
            Show(row.trackSide / 2, row.trackSide % 2, ProgressAction::kTrackSideWritten,
                 &image.record);
        EXPECT_EQ(BarOf(line), expected);
    }
}

TEST(ProgressBar, ReadingFillsLightShadesAndWritingRepaintsInFullBlocks) {
    BuiltImage image(DisketteSize::k1440, "NO NAME");
    (void)Show(0, 0, ProgressAction::kReset, &image.record);
    std::string line;
    for (std::uint32_t i = 0; i < 160; ++i) {
        line = Show(i / 2, i % 2, ProgressAction::kTrackSideRead, &image.record);
    }
    EXPECT_EQ(BarOf(line), std::string(kBarCells, '\xB0'));   // the brackets as well

    EXPECT_EQ(Show(0, 0, ProgressAction::kWritingBegins, &image.record), "");
    std::string beforeLast;
    for (std::uint32_t i = 0; i < 160; ++i) {
        beforeLast = line;
        line = Show(i / 2, i % 2, ProgressAction::kTrackSideWritten, &image.record);
    }
    EXPECT_EQ(BarOf(line), std::string(kBarCells, '\xDB'));
    EXPECT_EQ(BarOf(beforeLast), BarOf(line));   // the last side fills nothing new

    // A reset opens every cell again.
    (void)Show(0, 0, ProgressAction::kReset, &image.record);
    line = Show(0, 1, ProgressAction::kTrackSideRead, &image.record);
    EXPECT_NE(line.find("\xB0" + kOpenCells + "]"), std::string::npos);
}

TEST(ProgressBar, ShowsTheWordOfEachActionAfterTheBar) {
    // 360 KB: 40 tracks x 2 sides. The event on track 1 side 0 completes
    // 300 / 80 = 3 per cent: cell 0 again, so the bar stays as primed.
    const std::string bar = "\xB0" + kOpenCells + "]";
    struct Row {
        const char* name;
        int action;
        std::string output;
    };
    const Row rows[] = {
        {"read", 5, bar + "    " + Padded("Read", 34) + "\r"},
        {"written", 6, bar + "    " + Padded("Write", 34) + "\r"},
        {"verified", 7, bar + "    " + Padded("Verify", 34) + "\r"},
        {"formatted", 8, bar + "    " + Padded("Format", 34) + "\r"},
        {"unused", 13, bar + "    " + Padded("Unused track", 34) + "\r"},
        {"saved into an image file", 9, bar + "    " + Padded("Save", 34) + "\r"},
        // 31 characters with the line end, padded to 34: three blanks after it.
        {"diskette written", 1, bar + "    Diskette successfully created\n   \r"},
        // 28 characters: six blanks.
        {"image made", 10, bar + "    Image successfully created\n      \r"},
        {"writing begins", 3, ""},
        {"reset", 2, ""},
        {"an unknown action", 4, ""},
        {"another unknown action", 11, ""},
    };
    BuiltImage image(DisketteSize::k360, "NO NAME");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PrimeBar(&image.record);
        EXPECT_EQ(Show(1, 0, static_cast<ProgressAction>(row.action), &image.record), row.output);
    }
}

TEST(ProgressBar, ShowsInfoLineHeaderAndBarInBrightWhiteOnATerminal) {
    // The diskette programs' console on a terminal of the C locale: the
    // colour pairs become terminal sequences (0x0F bright white, 0x07 the
    // terminal's own colours), code page 437 bytes arrive as they are.
    ChildOptions options;
    options.terminal = true;
    options.environment = {"LC_ALL=C"};
    ChildResult child = RunFunction(
        [] {
            SetOutputVariant(OutputVariant::kConsole);
            BuiltImage image(DisketteSize::k360, "MYDISK");
            ShowProgress(0, 0, ProgressAction::kReset, &image.record);
            ShowProgress(0, 0, ProgressAction::kTrackSideRead, &image.record);
            ShowProgress(0, 1, ProgressAction::kTrackSideRead, &image.record);
        },
        options);
    // 9 x 512 x 2 x 40 = 368640 bytes = 360 K; media 0xFD with 9 sectors is
    // a 5.25" DD diskette. Track 0 side 0 prints nothing: the header is not
    // out yet. Side 1 completes 200 / 80 = 2 per cent: cell 0.
    EXPECT_EQ(child.output,
              "Diskette 'MYDISK     ', Type: 5,25\" DD (2 sides, 40 tracks / 9 sec.,360 K)\n"
              "\x1b[0;97m" "0%          50%        100%  Action\n" "\x1b[0m"
              "\x1b[0;97m" "\xB0" + kOpenCells + "]    Read" + std::string(30, ' ') + "\r"
              "\x1b[0m");
    EXPECT_EQ(child.exitCode, 0);
}

TEST(ProgressBar, PrintsTheInfoLineInTheProgramsWording) {
    struct Row {
        const char* name;
        InfoLineWording wording;
        const char* infoLine;
    };
    // "3,5\" HD" is 7 characters, padded to 8.
    const Row rows[] = {
        {"diskette writer", InfoLineWording::kWriter,
         "Diskette 'MYDISK     ', Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n"},
        {"self-creating diskette", InfoLineWording::kSelfDisk,
         "Diskette  3: MYDISK     , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n"},
    };
    BuiltImage image(DisketteSize::k1440, "MYDISK");
    image.record.disketteNumber = 3;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetProgressWording(row.wording);
        (void)Show(0, 0, ProgressAction::kReset, &image.record);
        const std::string output = Show(0, 1, ProgressAction::kTrackSideUnused, &image.record);
        EXPECT_EQ(output.substr(0, output.find('\n') + 1), row.infoLine);
    }
    SetProgressWording(InfoLineWording::kWriter);
}

TEST(ProgressBar, PrintsInfoLineAndHeaderOncePerDisketteAndOnlyTheInfoLineWhenListing) {
    struct Row {
        const char* name;
        bool listOnly;
        std::size_t infoLines;
        std::size_t headers;
        std::size_t barLines;
    };
    const Row rows[] = {
        // Every event from track 0 side 1 on draws the bar: 160 - 1 read, 160 written.
        {"writing", false, 1, 1, 319},
        {"listing", true, 1, 0, 0},
    };
    BuiltImage image(DisketteSize::k1440, "MYDISK");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        image.record.listOnly = row.listOnly;
        const std::string output = CaptureOutput([&] {
            ShowProgress(0, 0, ProgressAction::kReset, &image.record);
            for (std::uint32_t i = 0; i < 160; ++i) {
                ShowProgress(i / 2, i % 2, ProgressAction::kTrackSideRead, &image.record);
            }
            if (row.listOnly) return;
            ShowProgress(0, 0, ProgressAction::kWritingBegins, &image.record);
            for (std::uint32_t i = 0; i < 160; ++i) {
                ShowProgress(i / 2, i % 2, ProgressAction::kTrackSideWritten, &image.record);
            }
        });
        auto count = [&output](const std::string& text) {
            std::size_t found = 0;
            for (std::size_t at = output.find(text); at != std::string::npos;
                 at = output.find(text, at + 1)) {
                ++found;
            }
            return found;
        };
        EXPECT_EQ(count("Diskette 'MYDISK"), row.infoLines);
        EXPECT_EQ(count("Action\n"), row.headers);
        EXPECT_EQ(count("\r"), row.barLines);
    }
}

TEST(ProgressBar, ShowsNothingForASkippedDiskette) {
    BuiltImage image(DisketteSize::k360, "MYDISK");
    PrimeBar(&image.record);
    (void)Show(0, 0, ProgressAction::kWritingBegins, &image.record);
    image.record.skipDiskette = true;
    const std::string output = CaptureOutput([&] {
        ShowProgress(0, 0, ProgressAction::kReset, &image.record);
        for (std::uint32_t i = 0; i < 80; ++i) {
            ShowProgress(i / 2, i % 2, ProgressAction::kTrackSideRead, &image.record);
        }
        ShowProgress(0, 0, ProgressAction::kDisketteWritten, &image.record);
    });
    EXPECT_EQ(output, "");
    // Nothing was reset or filled meanwhile: the next diskette's event finds
    // the bar, the fill character and the header as they were.
    image.record.skipDiskette = false;
    EXPECT_EQ(Show(1, 1, ProgressAction::kTrackSideWritten, &image.record),
              "\xB0\xDB" + kOpenCells.substr(1) + "]    " + Padded("Write", 34) + "\r");
}

TEST(ProgressBar, ARecordWithoutTracksOrSidesFillsNoCell) {
    struct Row {
        const char* name;
        std::uint32_t trackCount;
        std::uint16_t sides;
    };
    const Row rows[] = {{"no tracks", 0, 2}, {"no sides", 40, 0}};
    BuiltImage image(DisketteSize::k360, "NO NAME");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PrimeBar(&image.record);
        ImageRecord empty = image.record;
        empty.trackCount = row.trackCount;
        empty.parameters.sides[0] = static_cast<std::uint8_t>(row.sides);
        empty.parameters.sides[1] = 0;
        EXPECT_EQ(BarOf(Show(0, 1, ProgressAction::kTrackSideWritten, &empty)),
                  "\xB0" + kOpenCells + "]");
    }
}

}  // namespace
