// fuzz_extraction.cpp - extraction of every entry of an arbitrary image file
// into a fresh directory, through the extractor's own run. Afterwards the
// sandbox must hold nothing but the extraction directory, and that only
// directories and regular files; then everything is removed again.
//   sandbox/cwd   the working directory, must stay empty
//   sandbox/out   the extraction directory, emptied after each input
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "extractor/command_line.h"
#include "extractor/extractor_run.h"
#include "fuzz/fuzz_support.h"
#include "image/image_format.h"
#include "image/used_track_map.h"

static constexpr std::uint64_t kLargestImage = 64u << 10;
static constexpr std::size_t kSandboxSize = 256;

static int memoryFile = -1;
static char sandbox[kSandboxSize];
static char outputDirectory[kSandboxSize];
static char imagePath[kSandboxSize];

static int CheckAndRemove(const char* path, const struct stat* status, int type, struct FTW*);

// At the end of a run without a finding; after a finding the sandbox stays.
static void RemoveSandbox() {
    (void)nftw(sandbox, CheckAndRemove, 16, FTW_DEPTH | FTW_PHYS);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SendOutputToNull();
    SetOutputVariant(OutputVariant::kFile);
    // The run reads the locale settings each time; the C locale costs no file access.
    setenv("LC_ALL", "C", 1);
    memoryFile = CreateMemoryFile();
    // /dev/shm keeps the many small files of a long run in memory.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::snprintf(sandbox, sizeof(sandbox), "%s/fuzz-extraction.XXXXXX", base);
    if (memoryFile < 0 || mkdtemp(sandbox) == nullptr) ReportFinding("cannot set up the sandbox");
    char working[kSandboxSize];
    std::snprintf(working, sizeof(working), "%s/cwd", sandbox);
    std::snprintf(outputDirectory, sizeof(outputDirectory), "%s/out", sandbox);
    std::snprintf(imagePath, sizeof(imagePath), "/proc/self/fd/%d", memoryFile);
    if (mkdir(working, 0700) != 0 || chdir(working) != 0) ReportFinding("cannot enter the sandbox");
    std::atexit(RemoveSandbox);
    return 0;
}

static int CheckAndRemove(const char* path, const struct stat* status, int type, struct FTW*) {
    if (type != FTW_DP && type != FTW_F) ReportFinding("the extraction left a link or an unreadable entry");
    if (type == FTW_F && !S_ISREG(status->st_mode)) ReportFinding("the extraction left a special file");
    if (remove(path) != 0) ReportFinding("an extracted entry cannot be removed");
    return 0;
}

// The sandbox holds cwd (empty) and out, nothing else.
static void CheckSandbox() {
    DIR* directory = opendir(sandbox);
    if (directory == nullptr) ReportFinding("the sandbox is gone");
    for (struct dirent* entry = readdir(directory); entry != nullptr; entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (std::strcmp(entry->d_name, "cwd") != 0 && std::strcmp(entry->d_name, "out") != 0) {
            ReportFinding("something was created beside the extraction directory");
        }
    }
    closedir(directory);
    DIR* working = opendir(".");
    if (working == nullptr) ReportFinding("the working directory is gone");
    for (struct dirent* entry = readdir(working); entry != nullptr; entry = readdir(working)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            ReportFinding("something was created in the working directory");
        }
    }
    closedir(working);
}

static bool IsSmallEnough(const std::uint8_t* data, std::size_t size) {
    std::uint8_t header[kImageHeaderSize] = {};
    std::memcpy(header, data, size < sizeof(header) ? size : sizeof(header));
    Recognition recognition{};
    DisketteGeometry geometry{};
    if (!RecognizeImage(header, sizeof(header), &recognition)) return true;
    if (!GetDisketteGeometry(&recognition.parameters, &geometry)) return true;
    return geometry.imageSize <= kLargestImage;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!IsSmallEnough(data, size) || !FillMemoryFile(memoryFile, data, size)) return 0;
    if (mkdir(outputDirectory, 0700) != 0) ReportFinding("cannot create the extraction directory");
    char programName[] = "imgextract";
    char* arguments[] = {programName, nullptr};
    ExtractorRunState state{};
    StartExtractorRun(&state, 1, arguments);
    std::memcpy(state.imageFileName, imagePath, sizeof(imagePath));
    std::memcpy(state.extractionDirectory, outputDirectory, sizeof(outputDirectory));
    // Entries of the same name replace each other: no prompt waits for input.
    state.overwriteAll = true;
    state.junkPaths = size > 0 && (data[size - 1] & 1u) != 0;
    const int result = RunExtraction(&state);
    if (result != kExitSuccess && result != kExitError) ReportFinding("exit code neither 0 nor 3");
    CheckSandbox();
    if (nftw(outputDirectory, CheckAndRemove, 16, FTW_DEPTH | FTW_PHYS) != 0) {
        ReportFinding("the extraction directory cannot be walked");
    }
    return 0;
}
