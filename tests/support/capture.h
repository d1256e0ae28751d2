// capture.h - what the tests need around the code under test: the bytes a
// call writes to standard output, and image files on disk.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Runs call with standard output (descriptor 1) redirected into a temporary
// file and returns every byte written there. Output is not a terminal during
// the call, so the console writer drops its colour pairs.
std::string CaptureOutput(const std::function<void()>& call);

// A file in the temporary directory holding the given bytes; removed when the
// object goes out of scope.
class TempFile {
public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return path_; }
    // Opens the file read-only; the caller closes the descriptor. -1 on failure.
    int OpenForReading() const;

private:
    std::string path_;
};
