// guest.cpp - result lines and pseudo-terminal runs for the qemu guest.
#include "tests/qemu/guest.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/klog.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "diskette/device.h"
#include "tests/support/process.h"

namespace {

int failureCount = 0;

// The kernel's log so far.
std::string KernelLog() {
    static char buffer[1 << 18];
    int length = klogctl(3, buffer, static_cast<int>(sizeof(buffer)));   // SYSLOG_ACTION_READ_ALL
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

// The state letter of a process (R, S, D, Z ...), or '?'.
char ProcessState(pid_t pid) {
    char fileName[64];
    std::snprintf(fileName, sizeof(fileName), "/proc/%d/stat", static_cast<int>(pid));
    std::FILE* file = std::fopen(fileName, "r");
    if (file == nullptr) return '?';
    char line[512] = {};
    const bool read = std::fgets(line, sizeof(line), file) != nullptr;
    std::fclose(file);
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    return close != nullptr && close[1] == ' ' ? close[2] : '?';
}

// The first line of a file under /proc/PID, or "".
std::string ProcessFile(pid_t pid, const char* name) {
    char fileName[64];
    std::snprintf(fileName, sizeof(fileName), "/proc/%d/%s", static_cast<int>(pid), name);
    std::FILE* file = std::fopen(fileName, "r");
    if (file == nullptr) return "";
    char line[256] = {};
    const bool read = std::fgets(line, sizeof(line), file) != nullptr;
    std::fclose(file);
    std::string text = read ? line : "";
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace

void Check(const char* name, bool passed, const char* format, ...) {
    char detail[300];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(detail, sizeof(detail), format, arguments);
    va_end(arguments);
    std::printf("CHECK %s %s %s\n", name, passed ? "ok" : "FAIL", detail);
    std::fflush(stdout);
    if (!passed) ++failureCount;
}

void Step(const char* name) {
    std::printf("STEP %s\n", name);
    std::fflush(stdout);
}

void Note(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::printf("\n");
    std::fflush(stdout);
}

int FailureCount() { return failureCount; }

void Sleep(int milliseconds) {
    struct timespec pause {};
    pause.tv_sec = milliseconds / 1000;
    pause.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

double Now() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

double Median(double a, double b, double c) {
    if (a > b) std::swap(a, b);
    if (b > c) std::swap(b, c);
    return a > b ? a : b;
}

void StopAfterDriverHang(const char* name, const TerminalResult& result, double limitSeconds) {
    const char state = ProcessState(result.pid);
    const bool driverHung = Contains(KernelLog(), "disk removed during i/o");
    if (driverHung && state == 'D') {
        // The system call it sleeps in (its number first: 17 pread64,
        // 18 pwrite64, 16 ioctl, 74 fsync) and where in the kernel.
        Note("DEADLOCK the floppy driver hung after the eject (%s in state D, in system call %s, "
             "at %s)", name, ProcessFile(result.pid, "syscall").c_str(),
             ProcessFile(result.pid, "wchan").c_str());
        Note("GUEST DONE failures=%d", FailureCount());
        Step("eject-deadlock");
        for (;;) Sleep(1000);   // the host stops the machine
    }
    kill(result.pid, SIGKILL);
    Check(name, false, "no exit within %.0f s, state %c, driver message %s", limitSeconds, state,
          driverHung ? "seen" : "not seen");
}

TerminalResult RunOnTerminal(const TerminalRun& run) {
    TerminalResult result;
    struct termios mode {};
    cfmakeraw(&mode);   // the bytes arrive as written: no CR added, no echo
    mode.c_lflag |= ISIG | ICANON;
    mode.c_cc[VINTR] = 3;
    mode.c_cc[VMIN] = 1;
    int master = -1;
    const double start = Now();
    std::fflush(stdout);
    pid_t child = forkpty(&master, nullptr, &mode, nullptr);
    if (child < 0) return result;
    if (child == 0) ExecProgram(run.arguments);
    result.pid = child;
    bool stepDone = run.stepAfter.empty();
    bool typingDone = run.typeAfter.empty();
    int typings = 0;
    std::size_t typedAt = 0;
    double quietSince = Now();
    bool masterOpen = true;
    for (;;) {
        struct pollfd ready {};
        ready.fd = master;
        ready.events = POLLIN;
        int count = masterOpen ? poll(&ready, 1, 100) : (Sleep(100), 0);
        if (count > 0) {
            char buffer[4096];
            ssize_t length = read(master, buffer, sizeof(buffer));
            if (length > 0) {
                result.output.append(buffer, static_cast<std::size_t>(length));
                quietSince = Now();
            } else if (length < 0 && errno == EINTR) {
                continue;
            } else {
                masterOpen = false;   // EIO: every holder of the terminal's other side is gone
            }
        }
        if (!stepDone && Contains(result.output, run.stepAfter)) {
            Step(run.stepName.c_str());
            stepDone = true;
        }
        if (!typingDone && Contains(result.output, run.typeAfter)) {
            const bool answered = typings > 0 && result.output.size() > typedAt;
            const double quiet = Now() - quietSince;
            if (answered || typings == 5) {
                typingDone = true;
            } else if ((typings == 0 && quiet >= 0.2) || quiet >= 1.0) {
                WriteAllTo(master, run.typed);
                ++typings;
                typedAt = result.output.size();
                quietSince = Now();
            }
        }
        if (!result.ended) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child) {
                result.ended = true;
                result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                result.seconds = Now() - start;
            }
        }
        // What the program wrote last may still be on its way.
        if (result.ended && (count == 0 || !masterOpen)) break;
        if (!result.ended && Now() - start > run.limitSeconds) {
            result.seconds = Now() - start;
            break;
        }
    }
    close(master);
    return result;
}

void LogOutput(const char* name, const std::string& output) {
    const std::string plain = WithoutColours(output);
    std::printf("--- output of %s ---\n", name);
    std::size_t lineStart = 0;
    while (lineStart < plain.size()) {
        std::size_t lineEnd = plain.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = plain.size();
        std::string line = plain.substr(lineStart, lineEnd - lineStart);
        // A redrawn line: the last form that shows anything.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t lastReturn = line.rfind('\r');
        if (lastReturn != std::string::npos) line = line.substr(lastReturn + 1);
        for (char& character : line) {
            const unsigned char byte = static_cast<unsigned char>(character);
            if (byte > 0x7E || (byte < 0x20 && byte != '\t')) character = '#';
        }
        std::printf("| %s\n", line.c_str());
        lineStart = lineEnd + 1;
    }
    std::fflush(stdout);
}

TerminalResult RunAndLog(const char* name, const TerminalRun& run, bool killAtLimit) {
    TerminalResult result = RunOnTerminal(run);
    LogOutput(name, result.output);
    if (!result.ended && killAtLimit) {
        kill(result.pid, SIGKILL);
        waitpid(result.pid, nullptr, 0);
    }
    return result;
}

int RunQuietly(const std::vector<std::string>& arguments, const std::string& input,
               double* seconds) {
    int feed[2];
    if (pipe(feed) != 0) return -1;
    WriteAllTo(feed[1], input);
    close(feed[1]);
    const double start = Now();
    pid_t child = fork();
    if (child == 0) {
        dup2(feed[0], 0);
        close(feed[0]);
        int sink = open("/dev/null", O_WRONLY);
        dup2(sink, 1);
        dup2(sink, 2);
        ExecProgram(arguments);
    }
    close(feed[0]);
    int status = 0;
    waitpid(child, &status, 0);
    *seconds = Now() - start;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitForFreshDiskette(const char* driveName, std::uint8_t byte) {
    for (int attempt = 0; attempt < 150; ++attempt) {
        DeviceHandle* device = nullptr;
        std::uint8_t sector[kSectorSize] = {};
        std::uint32_t code = OpenDiskette(driveName, &device);
        if (code == 0) code = ReadFirstSector(device, sector);
        CloseDiskette(device);
        bool fresh = code == 0;
        for (std::size_t i = 0; i < kSectorSize && fresh; ++i) fresh = sector[i] == byte;
        if (fresh) return true;
        Sleep(200);
    }
    return false;
}

bool ChangeToFreshDiskette(const char* step, const char* driveName, const char* name) {
    Step(step);
    if (WaitForFreshDiskette(driveName)) return true;
    Check(name, false, "the fresh diskette never showed in %s", driveName);
    return false;
}
