// probe_helper.h - the key mode probe (tests/support/key_mode_probe_main.cpp)
// on a pseudo-terminal of the test's own: typing on it, signalling it, and
// looking at the terminal's mode while it runs and after it ended.
#pragma once
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

struct ProbeStart {
    const char* mode = "exit";
    // true: a session of its own, as under a terminal emulator; false: a
    // process group of its own in the test's session, as a shell's job, so
    // that stop signals stop it (the kernel discards them for a process group
    // without a parent in its session).
    bool ownSession = true;
    bool ignoreHangup = false;   // started with SIGHUP ignored, as nohup starts a program
};

class Probe {
public:
    explicit Probe(const ProbeStart& start) {
        if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        tcgetattr(slave_, &before_);
        pid_ = fork();
        if (pid_ == 0) {
            if (start.ownSession) {
                setsid();
            } else {
                setpgid(0, 0);
            }
            if (start.ignoreHangup) signal(SIGHUP, SIG_IGN);
            unsetenv("NO_COLOR");   // the colour tests never depend on the machine
            setenv("TERM", "xterm", 1);
            struct rlimit noCore {};
            setrlimit(RLIMIT_CORE, &noCore);   // SIGQUIT leaves no core file behind
            dup2(slave_, 0);
            dup2(slave_, 1);
            close(master_);
            close(slave_);
            execl(KEY_MODE_PROBE_PATH, KEY_MODE_PROBE_PATH, start.mode, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Probe() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    // Reads until the output holds text (after its first from bytes) or
    // timeout milliseconds pass without output; true when it came.
    bool ReadUntil(const std::string& text, std::size_t from = 0, int timeout = 5000) {
        while (output_.find(text, from) == std::string::npos) {
            if (!ReadMore(timeout)) return false;
        }
        return true;
    }
    // Reads until the output holds count line ends or no output came for
    // timeout milliseconds.
    void ReadLines(std::size_t count, int timeout = 5000) {
        while (static_cast<std::size_t>(std::count(output_.begin(), output_.end(), '\n')) < count &&
               ReadMore(timeout)) {
        }
    }
    void Type(const std::string& keys) {
        ssize_t written = write(master_, keys.data(), keys.size());
        EXPECT_EQ(written, static_cast<ssize_t>(keys.size()));
    }
    // Types key until answer appears in what the probe writes afterwards: the
    // key wait discards a key typed before it began, so one try may be lost.
    bool TypeUntilAnswered(const std::string& key, const std::string& answer) {
        const std::size_t from = output_.size();
        for (int attempt = 0; attempt < 50; ++attempt) {
            Type(key);
            if (ReadUntil(answer, from, 250)) return true;
        }
        return false;
    }
    void Signal(int signalNumber) { kill(pid_, signalNumber); }
    // Closes the terminal's other side: the probe's terminal is hung up.
    void HangUp() {
        close(master_);
        master_ = -1;
    }
    // Waits for the probe to stop (true) or end (false, and Finish's results
    // are then known).
    bool WaitUntilStopped() {
        int status = 0;
        if (waitpid(pid_, &status, WUNTRACED) != pid_) return false;
        if (WIFSTOPPED(status)) return true;
        Collect(status);
        return false;
    }
    // Waits for the probe to end; one still running after 5 seconds is
    // killed, so that no test can hang. Reads what it wrote last.
    void Finish() {
        if (ended_) return;
        int status = 0;
        for (int wait = 0; waitpid(pid_, &status, WNOHANG) == 0; ++wait) {
            if (wait == 500) kill(pid_, SIGKILL);
            usleep(10 * 1000);
        }
        Collect(status);
        while (ReadMore(50)) {
        }
    }
    struct termios Mode() const {
        struct termios mode {};
        tcgetattr(slave_, &mode);
        return mode;
    }
    // Waits up to 5 seconds for the terminal to be in key mode.
    bool WaitForKeyMode() const {
        for (int wait = 0; wait < 500; ++wait) {
            if ((Mode().c_lflag & (ICANON | ECHO)) == 0) return true;
            usleep(10 * 1000);
        }
        return false;
    }

    const std::string& Output() const { return output_; }
    const struct termios& Before() const { return before_; }
    int ExitCode() const { return exitCode_; }
    int EndSignal() const { return endSignal_; }

private:
    bool ReadMore(int timeout) {
        struct pollfd ready {};
        ready.fd = master_;
        ready.events = POLLIN;
        if (poll(&ready, 1, timeout) <= 0) return false;
        char buffer[256];
        ssize_t count = read(master_, buffer, sizeof(buffer));
        if (count <= 0) return false;
        output_.append(buffer, static_cast<std::size_t>(count));
        return true;
    }
    void Collect(int status) {
        ended_ = true;
        if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) endSignal_ = WTERMSIG(status);
    }

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
    int exitCode_ = -1;
    int endSignal_ = 0;
    std::string output_;
    struct termios before_ {};
};

// The terminal is in the mode it had before the probe started: line editing
// and echo on.
inline void ExpectModeRestored(const struct termios& mode, const struct termios& before) {
    EXPECT_EQ(mode.c_lflag, before.c_lflag);
    EXPECT_EQ(mode.c_iflag, before.c_iflag);
    EXPECT_EQ(mode.c_oflag, before.c_oflag);
    EXPECT_NE(mode.c_lflag & ECHO, 0u);
    EXPECT_NE(mode.c_lflag & ICANON, 0u);
}
