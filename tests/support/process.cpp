// process.cpp - child processes with captured output for the tests.
#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// In the child: makes descriptor write into a new (or emptied) file at path.
void RedirectInto(int descriptor, const std::string& path) {
    if (path.empty()) return;
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || dup2(file, descriptor) < 0) _exit(125);
    close(file);
}

// Reads until end of file (or, on a terminal master, EIO once the child is gone).
std::string ReadUntilEnd(int descriptor) {
    std::string result;
    char buffer[4096];
    for (;;) {
        ssize_t count = read(descriptor, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        result.append(buffer, static_cast<std::size_t>(count));
    }
    return result;
}

// Reads the terminal's output (appending to output) until it holds
// step.after at or after searchFrom and has come to rest, then types
// step.input, or runs step.action. A key wait discards what was typed before
// it began, and the program may show its prompt a moment before it waits:
// input is typed again while nothing more is shown for a second, at most five
// times. Returns the position just past the text found, where the next
// step's search begins (output.size() when it was never shown).
std::size_t TypeWhenShown(int master, const TerminalStep& step, std::string& output,
                          std::size_t searchFrom) {
    struct pollfd ready {};
    ready.fd = master;
    ready.events = POLLIN;
    std::size_t found = output.find(step.after, searchFrom);
    std::size_t typedAt = 0;
    int typings = 0;
    for (;;) {
        const bool shown = found != std::string::npos;
        if (shown && step.input.empty()) {
            if (step.action) step.action();
            return found + step.after.size();
        }
        int timeout = !shown ? 10000 : typings == 0 ? 100 : 1000;
        int count = poll(&ready, 1, timeout);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return output.size();
        if (count == 0) {
            if (!shown || typings == 5) return shown ? found + step.after.size() : output.size();
            WriteAllTo(master, step.input);
            ++typings;
            typedAt = output.size();
            continue;
        }
        char buffer[4096];
        ssize_t length = read(master, buffer, sizeof(buffer));
        if (length <= 0) return output.size();
        output.append(buffer, static_cast<std::size_t>(length));
        if (typings > 0 && output.size() > typedAt) return found + step.after.size();
        if (!shown) found = output.find(step.after, searchFrom);
    }
}

ChildResult Run(const std::function<void()>& body, const ChildOptions& options) {
    ChildResult result;
    int master = -1;
    int outputPipe[2] = {-1, -1};
    int inputPipe[2] = {-1, -1};
    pid_t child;
    if (options.terminal) {
        struct termios mode {};
        cfmakeraw(&mode);   // the bytes arrive as written: no CR added, no echo
        mode.c_lflag |= ISIG | ICANON | ECHO;
        mode.c_cc[VINTR] = 3;
        mode.c_cc[VMIN] = 1;
        child = forkpty(&master, nullptr, &mode, nullptr);
    } else {
        if (pipe(outputPipe) != 0 || pipe(inputPipe) != 0) return result;
        child = fork();
    }
    if (child < 0) return result;
    if (child == 0) {
        if (!options.terminal) {
            dup2(inputPipe[0], 0);
            dup2(outputPipe[1], 1);
            close(inputPipe[0]);
            close(inputPipe[1]);
            close(outputPipe[0]);
            close(outputPipe[1]);
        }
        RedirectInto(1, options.outputPath);
        RedirectInto(2, options.errorPath);
        // Colours never depend on the settings of the machine the tests run on.
        unsetenv("NO_COLOR");
        setenv("TERM", "xterm", 1);
        for (const std::string& setting : options.environment) {
            putenv(strdup(setting.c_str()));
        }
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
            _exit(125);
        }
        body();
        _exit(0);
    }
    int reader;
    if (options.terminal) {
        reader = master;
        std::size_t searchFrom = 0;
        if (!options.input.empty() && !options.typeAfter.empty()) {
            TerminalStep first;
            first.after = options.typeAfter;
            first.input = options.input;
            searchFrom = TypeWhenShown(master, first, result.output, 0);
        } else if (!options.input.empty()) {
            // Typed input goes in once the child has set its terminal up.
            struct pollfd waitForOutput {};
            waitForOutput.fd = master;
            waitForOutput.events = POLLIN;
            std::string early;
            if (poll(&waitForOutput, 1, 5000) > 0) {
                char buffer[4096];
                ssize_t count = read(master, buffer, sizeof(buffer));
                if (count > 0) early.assign(buffer, static_cast<std::size_t>(count));
            }
            result.output = early;
            WriteAllTo(master, options.input);
            searchFrom = result.output.size();
        }
        for (const TerminalStep& step : options.steps) {
            searchFrom = TypeWhenShown(master, step, result.output, searchFrom);
        }
    } else {
        close(inputPipe[0]);
        close(outputPipe[1]);
        WriteAllTo(inputPipe[1], options.input);
        close(inputPipe[1]);
        reader = outputPipe[0];
    }
    result.output += ReadUntilEnd(reader);
    close(reader);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace

ChildResult RunFunction(const std::function<void()>& body, const ChildOptions& options) {
    return Run(body, options);
}

ChildResult RunProgram(const std::vector<std::string>& arguments, const ChildOptions& options) {
    return Run([&arguments]() { ExecProgram(arguments); }, options);
}

void WriteAllTo(int descriptor, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

void ExecProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> vector;
    for (const std::string& argument : arguments) {
        vector.push_back(const_cast<char*>(argument.c_str()));
    }
    vector.push_back(nullptr);
    execv(vector[0], vector.data());
    _exit(127);
}

std::string WithoutColours(const std::string& output) {
    std::string plain;
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output[i] == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
            std::size_t end = output.find('m', i);
            if (end != std::string::npos) {
                i = end;
                continue;
            }
        }
        plain += output[i];
    }
    return plain;
}
