// fuzz_support.cpp - output redirection and memory files for the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

void SendOutputToNull() {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, 1) < 0) {
        ReportFinding("cannot send standard output to /dev/null");
    }
    close(null);
}

int CreateMemoryFile() { return memfd_create("fuzz-image", MFD_CLOEXEC); }

bool FillMemoryFile(int fileHandle, const std::uint8_t* bytes, std::size_t size) {
    if (ftruncate(fileHandle, 0) != 0) return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = pwrite(fileHandle, bytes + done, size - done, static_cast<off_t>(done));
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return lseek(fileHandle, 0, SEEK_SET) == 0;
}

void ReportFinding(const char* what) {
    std::fprintf(stderr, "FINDING: %s\n", what);
    std::abort();
}
