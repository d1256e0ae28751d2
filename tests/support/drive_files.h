// drive_files.h - running the diskette programs on a pseudo-terminal with
// file-backed drives, and what their tests look at afterwards: the output
// without its colour sequences, the reporter's message layout, and what a
// drive file holds.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/process.h"

// Runs a diskette program (command[0]) with its arguments in the C locale,
// on a pseudo-terminal or with its output into a pipe, with the environment
// settings and terminal steps given (without a terminal, the steps' keys
// are all there in standard input from the start); a run that takes more than 30 seconds
// is stopped (exit code 124). Standard output or error goes into the file
// outputPath or errorPath instead, where one is given.
inline ChildResult RunDisketteProgram(const std::vector<std::string>& command,
                                      const std::vector<std::string>& environment, bool terminal,
                                      const std::vector<TerminalStep>& steps,
                                      const std::string& outputPath = "",
                                      const std::string& errorPath = "") {
    // --foreground keeps the program in the terminal's foreground process
    // group, where it may set the terminal's mode and read keys.
    std::vector<std::string> arguments = {"/usr/bin/timeout", "--foreground", "30"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    ChildOptions options;
    options.terminal = terminal;
    options.outputPath = outputPath;
    options.errorPath = errorPath;
    options.environment = {"LC_ALL=C", "LANG=C"};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    if (terminal) {
        options.steps = steps;
    } else {
        // Without a terminal every key is read from the pipe, in order.
        for (const TerminalStep& step : steps) options.input += step.input;
    }
    return RunProgram(arguments, options);
}

// A 1.44 MB diskette with data in three track sides (18 sectors each):
// boot sector, FATs and root directory are sectors 0 to 32 (1 + 2 x 9 + 14),
// track sides 0 and 1; README.TXT in cluster 2 = sector 33, track side 1;
// FAR.BIN in clusters 149 and 150 = sectors 33 + 147 = 180 and 181, track
// side 10. Every other data sector holds 0xE5; every other track side is
// unused.
inline FatImage ThreeSidesDiskette(const std::string& label = "THREE SIDES") {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), label, 0xE5);
    AddFile(&image, kRootDirectory, FileEntry("README", "TXT"), TextBytes("hello\r\n"));
    LinkChain(&image, {149, 150});
    WriteChainData(&image, {149, 150}, PatternBytes(1024, 1));
    DirectoryEntry far = FileEntry("FAR", "BIN");
    far.firstCluster = 149;
    far.size = 1024;
    AppendEntry(&image, kRootDirectory, far);
    return image;
}

inline constexpr std::uint8_t kMarkerByte = 0x5A;   // what a drive file holds before a write

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
