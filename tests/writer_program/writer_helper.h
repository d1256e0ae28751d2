// writer_helper.h - running dskwrite on a pseudo-terminal of the test's own,
// with its drives standing for files in a temporary directory, and what the
// terminal showed with the colour sequences taken out.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/support/image_builder.h"
#include "tests/support/process.h"

inline constexpr std::uint8_t kMarkerByte = 0x5A;   // what a drive file holds before a write

// What the writer is run with beside its arguments.
struct WriterRun {
    std::vector<std::string> environment;   // DISKETTE_<letter>=path and the like
    std::string key;                        // typed once the prompt is shown ("" for none)
    bool terminal = true;                   // false: output into a pipe, no terminal
};

// Runs dskwrite with the arguments after its name in the C locale; a run that
// takes more than 30 seconds is stopped (exit code 124).
inline ChildResult RunWriter(const std::vector<std::string>& arguments, const WriterRun& run) {
    // --foreground keeps the writer in the terminal's foreground process group,
    // where it may set the terminal's mode and read keys.
    std::vector<std::string> command = {"/usr/bin/timeout", "--foreground", "30", DSKWRITE_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildOptions options;
    options.terminal = run.terminal;
    options.environment = {"LC_ALL=C", "LANG=C"};
    options.environment.insert(options.environment.end(), run.environment.begin(),
                               run.environment.end());
    if (!run.key.empty()) {
        options.input = run.key;
        options.typeAfter = "ESC=Cancel\r";
    }
    return RunProgram(command, options);
}

// The banner as the terminal shows it without colours (CR LF arrives as LF).
inline const std::string kWriterBanner =
    "VELMORATRAX's diskette writer for Windows NT\n"
    "Version 1.0\n"
    "Enter 'dskwrite /?' to show help \n";

// A message of the reporter: an empty line before it, a line end after it.
inline std::string MessageText(const std::string& text) { return "\n" + text + "\n"; }

// Compares a drive file with a diskette track side by track side: the track
// sides listed in written hold the diskette's bytes, every other one holds
// only fill.
inline void ExpectDriveHolds(const std::vector<std::uint8_t>& drive, const FatImage& diskette,
                             const std::vector<std::size_t>& written, std::uint8_t fill) {
    const std::size_t sideSize = TrackSideSize(diskette.layout);
    ASSERT_EQ(drive.size(), diskette.bytes.size());
    for (std::size_t side = 0; side * sideSize < drive.size(); ++side) {
        const bool isWritten =
            std::find(written.begin(), written.end(), side) != written.end();
        const auto begin = drive.begin() + static_cast<std::ptrdiff_t>(side * sideSize);
        const std::vector<std::uint8_t> actual(begin, begin + static_cast<std::ptrdiff_t>(sideSize));
        if (isWritten) {
            const auto source = diskette.bytes.begin() + static_cast<std::ptrdiff_t>(side * sideSize);
            EXPECT_TRUE(std::equal(actual.begin(), actual.end(), source))
                << "track side " << side << " should hold the image's bytes";
        } else {
            EXPECT_EQ(actual, std::vector<std::uint8_t>(sideSize, fill))
                << "track side " << side << " should hold only 0x" << std::hex << unsigned(fill);
        }
    }
}
