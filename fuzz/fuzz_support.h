// fuzz_support.h - what every fuzz target needs around the code it drives:
// standard output sent to /dev/null, input bytes as a readable file, and a
// finding reported in a way libFuzzer records.
#pragma once
#include <cstddef>
#include <cstdint>

// Sends descriptor 1 to /dev/null, so that the programs' messages and
// listings cost no terminal time. libFuzzer itself writes to descriptor 2.
void SendOutputToNull();

// A file in memory (memfd) that the image reader can read and seek.
// Returns its descriptor, or -1.
[[nodiscard]] int CreateMemoryFile();

// Makes the memory file hold exactly the given bytes, positioned at 0.
// False when that failed (the input is then skipped).
[[nodiscard]] bool FillMemoryFile(int fileHandle, const std::uint8_t* bytes, std::size_t size);

// Ends the process with a message on descriptor 2: libFuzzer keeps the input
// as a crash. Used for broken properties that the sanitizers cannot see.
[[noreturn]] void ReportFinding(const char* what);
