// file_extraction.h - extracting one entry into the host file system: the
// destination path, the overwrite decision with its prompt, the directories
// on the way, the file's bytes from its cluster chain, its time and the
// read-only attribute.
#pragma once
#include <cstdint>

#include "extractor/command_line.h"
#include "extractor/fat_volume.h"
#include "extractor/listing.h"

// Extracts node's entry (fields built for it by BuildEntryFields). A directory
// entry creates nothing. Returns 0, or kExitError after reporting the failure;
// the answers "A" and "N" at the prompt switch overwriteAll and neverOverwrite
// on in state.
[[nodiscard]] int ExtractEntry(ExtractorRunState* state, const FatVolume* volume,
                               const TreeNode* node, const EntryFields* fields);

// Closes the directories the extraction of the run's entries kept open; the
// run calls it once at its end.
void CloseExtractionDirectories(ExtractorRunState* state);

// The host's modification time for an entry's DOS date and time: the stored
// value read as UTC, one hour earlier. False for a date or time that names no
// real moment (month 0, day 32, hour 25, ...).
[[nodiscard]] bool ModificationTimeFromDos(std::uint16_t dateWord, std::uint16_t timeWord,
                                           std::int64_t* seconds);

// True when the 8.3 name bytes of entry can be a file or directory name here:
// not empty, not "." or "..", no byte below 0x20 and none of / " * : < > ?
// \ | (names the file systems of DOS and Windows cannot hold either; "?" is
// also the mark of a deleted entry).
[[nodiscard]] bool IsNameUsableOnHost(const char* name);
