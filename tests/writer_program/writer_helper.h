// writer_helper.h - running dskwrite on a pseudo-terminal of the test's own,
// with its drives standing for files in a temporary directory, and the banner
// it shows.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/support/drive_files.h"
#include "tests/support/image_builder.h"
#include "tests/support/process.h"

// What the writer is run with beside its arguments.
struct WriterRun {
    std::vector<std::string> environment;   // DISKETTE_<letter>=path and the like
    std::string key;                        // typed once the prompt is shown ("" for none)
    bool terminal = true;                   // false: output into a pipe, no terminal
    std::string outputPath;                 // standard output into this file instead
    std::string errorPath;                  // standard error into this file instead
};

// Runs dskwrite with the arguments after its name in the C locale; a run that
// takes more than 30 seconds is stopped (exit code 124).
inline ChildResult RunWriter(const std::vector<std::string>& arguments, const WriterRun& run) {
    std::vector<std::string> command = {DSKWRITE_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<TerminalStep> steps;
    if (!run.key.empty()) {
        TerminalStep prompt;
        prompt.after = "ESC=Cancel\r";
        prompt.input = run.key;
        steps.push_back(prompt);
    }
    return RunDisketteProgram(command, run.environment, run.terminal, steps, run.outputPath,
                              run.errorPath);
}

// The banner as the terminal shows it without colours (CR LF arrives as LF).
inline const std::string kWriterBanner =
    "VELMORATRAX's diskette writer for Windows NT\n"
    "Version 1.0\n"
    "Enter 'dskwrite /?' to show help \n";
