// drive_helper.h - file-backed diskette drives for the device tests: a
// temporary directory, and a drive letter whose DISKETTE_<letter> names a
// file in it.
#pragma once
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = ::testing::TempDir() + "diskette-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const char* made = mkdtemp(buffer.data());
        path_ = made != nullptr ? made : "";
    }
    ~TempDirectory() {
        if (path_.empty()) return;
        DIR* directory = opendir(path_.c_str());
        if (directory != nullptr) {
            while (dirent* entry = readdir(directory)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") unlink((path_ + "/" + name).c_str());
            }
            closedir(directory);
        }
        rmdir(path_.c_str());
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Sets DISKETTE_<letter of driveName> to path for the object's lifetime.
class DriveVariable {
public:
    DriveVariable(const char* driveName, const std::string& path)
        : name_(std::string("DISKETTE_") + driveName[0]) {
        setenv(name_.c_str(), path.c_str(), 1);
    }
    ~DriveVariable() { unsetenv(name_.c_str()); }
    DriveVariable(const DriveVariable&) = delete;
    DriveVariable& operator=(const DriveVariable&) = delete;

private:
    std::string name_;
};

inline void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>());
}

// A diskette's bytes where every byte tells its own offset, so that data in
// the wrong place shows.
inline std::vector<std::uint8_t> CountingBytes(std::size_t byteCount, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(byteCount);
    for (std::size_t i = 0; i < byteCount; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i / 512) * 7 + i + seed);
    }
    return bytes;
}
