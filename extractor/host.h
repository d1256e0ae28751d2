// host.h - what the image extractor asks of the host system besides files:
// its own path and the current directory.
#pragma once
#include <cstddef>

// Writes the path of the running program into buffer; false when it cannot be
// found or does not fit.
[[nodiscard]] bool GetProgramPath(char* buffer, std::size_t bufferSize);

// Writes the current working directory into buffer; false when it cannot be
// found or does not fit.
[[nodiscard]] bool GetWorkingDirectory(char* buffer, std::size_t bufferSize);
