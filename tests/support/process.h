// process.h - running code or programs under test with their output captured:
// through a pipe (output redirected) or a pseudo-terminal of the test's own.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct ChildResult {
    int exitCode = -1;      // exit status, or -1 when ended by a signal
    int signal = 0;         // the ending signal, or 0
    std::string output;     // everything written to standard output
};

// One more thing done on the terminal while the program runs: once the
// output after the previous step's text holds after, input is typed as
// typeAfter types it (again while nothing more is shown), or, without input,
// action runs once (the output goes on being read after it returns).
struct TerminalStep {
    std::string after;
    std::string input;
    std::function<void()> action;
};

struct ChildOptions {
    bool terminal = false;                  // standard input and output on a new pseudo-terminal
    std::string input;                      // bytes for standard input (pipe), or typed on the terminal
    std::string typeAfter;                  // terminal: type input once the output holds this text
                                            //   (empty: after the first output), see TypeWhenShown
    std::vector<TerminalStep> steps;        // terminal: after input and typeAfter, in order
    std::vector<std::string> environment;   // "NAME=value" set in the child (others kept,
                                            //   but NO_COLOR unset and TERM=xterm first)
    std::string workingDirectory;           // empty: the test's own
    std::string outputPath;                 // standard output into this file instead
    std::string errorPath;                  // standard error into this file instead
};

// Runs body in a child process (fork) and returns what it wrote. The child
// ends with exit code 0 when body returns.
ChildResult RunFunction(const std::function<void()>& body, const ChildOptions& options);

// Runs a program with arguments (arguments[0] is the program path).
ChildResult RunProgram(const std::vector<std::string>& arguments, const ChildOptions& options);

// The pieces of the above for runners of their own (the qemu guest's): writes
// all bytes to a descriptor (stops at an error); replaces the child process
// by the program (arguments[0] is its path), or ends it with exit code 127.
void WriteAllTo(int descriptor, const std::string& bytes);
[[noreturn]] void ExecProgram(const std::vector<std::string>& arguments);

// A terminal's output with its colour sequences (ESC [ ... m) taken out.
std::string WithoutColours(const std::string& output);
