// selfdisk_program_helper.h - the built selfdisk program with a payload
// appended by hand, run on a pseudo-terminal of the test's own with its drives
// standing for files in a temporary directory.
#pragma once
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/selfdisk/payload_helper.h"
#include "tests/support/drive_files.h"
#include "tests/support/process.h"

// Writes directory/selfdisk: the built program followed by payload, its
// offset field pointing just past the program. Returns its path.
inline std::string MakeSelfDisk(const TempDirectory& directory,
                                const std::vector<std::uint8_t>& payload) {
    const std::string path = directory / "selfdisk";
    WriteBytes(path, WithPayload(ReadBytes(SELFDISK_PATH), payload));
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return path;
}

// What the program is run with beside its arguments.
struct SelfDiskRun {
    std::vector<std::string> environment;   // DISKETTE_<letter>=path and the like
    std::vector<TerminalStep> steps;        // keys typed, or actions, once texts are shown
    bool terminal = true;                   // false: output into a pipe, no terminal
};

// Runs program with the arguments after its name in the C locale; a run that
// takes more than 30 seconds is stopped (exit code 124).
inline ChildResult RunSelfDiskProgram(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const SelfDiskRun& run) {
    std::vector<std::string> command = {program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunDisketteProgram(command, run.environment, run.terminal, run.steps);
}

// A key typed once the prompt for diskette number is shown.
inline TerminalStep KeyAtPrompt(int number, const std::string& key) {
    TerminalStep step;
    step.after = "Insert diskette #" + std::to_string(number) +
                 " into 'A:' - ENTER=Continue  S=Skip  ESC=Cancel\r";
    step.input = key;
    return step;
}

// The banner as the terminal shows it without colours (CR LF arrives as LF).
inline const std::string kSelfDiskBanner =
    "VELMORATRAX's self-creating diskette for Windows NT\n"
    "Version 1.1\n"
    "Enter 'selfdisk /?' to show help \n";
