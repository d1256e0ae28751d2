// program_linux.cpp - the running program's own path, from /proc/self/exe.
#include "console/program.h"

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
