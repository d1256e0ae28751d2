// host_posix.cpp - program path from /proc/self/exe, current directory from getcwd.
#include "extractor/host.h"

#include <unistd.h>

bool GetProgramPath(char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return false;
    ssize_t length = readlink("/proc/self/exe", buffer, bufferSize);
    if (length <= 0 || static_cast<std::size_t>(length) >= bufferSize) {
        buffer[0] = '\0';
        return false;
    }
    buffer[length] = '\0';
    return true;
}

bool GetWorkingDirectory(char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return false;
    if (getcwd(buffer, bufferSize) == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}
