// program_helper.h - running imgextract on images written to a fresh
// temporary directory, and looking at what it left on disk.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/process.h"

// A fresh directory under TMPDIR (or /tmp), removed with everything in it
// at the end.
class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = ::testing::TempDir() + "imgextract-test-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        path_ = made != nullptr ? made : ::testing::TempDir() + "imgextract-test-failed";
    }
    ~TempDirectory() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(file.good()) << "writing " << path;
}

inline void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

inline std::string ReadText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// size bytes that differ from cluster to cluster and from file to file.
inline std::vector<std::uint8_t> PatternBytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 31 + i / 509 + seed * 7 + 1) & 0xFF);
    }
    return bytes;
}

// Every path below root, relative to it, directories with a trailing "/";
// links are not followed.
inline std::set<std::string> TreeBelow(const std::string& root) {
    std::set<std::string> paths;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::string relative = std::filesystem::relative(it->path(), root).string();
        if (it->is_directory() && !it->is_symlink()) relative += "/";
        paths.insert(relative);
    }
    return paths;
}

// Runs imgextract with the arguments after the program name, in the C locale,
// with input on standard input (ending there); a run that takes more than 20
// seconds is stopped (exit code 124).
inline ChildResult RunExtractor(const std::vector<std::string>& arguments,
                                const std::string& input = "",
                                const std::string& workingDirectory = "") {
    std::vector<std::string> command = {"/usr/bin/timeout", "20", IMGEXTRACT_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildOptions options;
    options.input = input;
    options.environment = {"LC_ALL=C"};
    options.workingDirectory = workingDirectory;
    return RunProgram(command, options);
}

// The banner the extractor prints first when its output is not a terminal.
inline const std::string kBanner =
    "VELMORATRAX's image file extractor for Windows NT\nVersion 1.0b\n";

// An error message in the extractor's form, with a system error code or without.
inline std::string ErrorText(const std::string& text, unsigned systemCode = 0) {
    if (systemCode == 0) return "\n" + text + "\n";
    char code[16];
    std::snprintf(code, sizeof(code), "(SYS%04u)", systemCode);
    return "\n" + text + "\n" + code + "\n";
}

// What the run printed after the diskette info line (the line that starts
// "Diskette: "); the whole output when there is none.
inline std::string AfterInfoLine(const std::string& output) {
    const std::size_t start = output.find("\nDiskette: ");
    if (start == std::string::npos) {
        ADD_FAILURE() << "no info line in: " << output;
        return output;
    }
    const std::size_t end = output.find("\n", start + 1);
    return end == std::string::npos ? std::string() : output.substr(end + 1);
}

inline struct stat StatusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}
