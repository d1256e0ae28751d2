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
