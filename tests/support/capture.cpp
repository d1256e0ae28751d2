// capture.cpp - output capture and temporary files for the tests.
#include "tests/support/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

static std::string MakeTempPath(int* descriptor) {
    const char* directory = std::getenv("TMPDIR");
    std::string pattern = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
                          "/image_test_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    *descriptor = mkstemp(name.data());
    if (*descriptor < 0) throw std::runtime_error("mkstemp failed");
    return std::string(name.data());
}

static void WriteAll(int descriptor, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(descriptor, bytes, count);
        if (written < 0) throw std::runtime_error("write failed");
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

std::string CaptureOutput(const std::function<void()>& call) {
    int target = -1;
    const std::string path = MakeTempPath(&target);
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(target, 1);
    call();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string captured;
    lseek(target, 0, SEEK_SET);
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(target, buffer, sizeof buffer);
        if (count <= 0) break;
        captured.append(buffer, static_cast<std::size_t>(count));
    }
    close(target);
    unlink(path.c_str());
    return captured;
}

TempFile::TempFile(const std::vector<std::uint8_t>& bytes) {
    int descriptor = -1;
    path_ = MakeTempPath(&descriptor);
    WriteAll(descriptor, bytes.data(), bytes.size());
    close(descriptor);
}

TempFile::~TempFile() { unlink(path_.c_str()); }

int TempFile::OpenForReading() const { return open(path_.c_str(), O_RDONLY); }
