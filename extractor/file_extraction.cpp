// file_extraction.cpp - one entry into the host file system.
#include "extractor/file_extraction.h"

#include <cstring>

#include "console/console.h"
#include "console/keys.h"
#include "console/message.h"
#include "console/program.h"
#include "console/system_error.h"
#include "extractor/host.h"
#include "image/byte_order.h"

// An answer needs only its first character; the rest of a line is dropped.
static constexpr std::size_t kAnswerSize = 16;

bool IsNameUsableOnHost(const char* name) {
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    // The characters the file systems of Windows refuse in a name; "/"
    // separates names on POSIX.
    for (const char* p = name; *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20) return false;
    }
    return std::strpbrk(name, "/\"*:<>?\\|") == nullptr;
}

// True when the name (code page 437, as FormatStoredName gives it) of entry
// can be a name here: a NUL byte among the stored bytes makes it unusable
// (the text ends there, naming some other file).
static bool IsEntryNameUsableOnHost(const std::uint8_t* entry, const char* name) {
    static_assert(kEntryExtension == kEntryName + kEntryNameLength, "the extension follows the name");
    const std::size_t storedLength = kEntryNameLength + kEntryExtensionLength;
    return std::memchr(entry + kEntryName, 0, storedLength) == nullptr && IsNameUsableOnHost(name);
}

// A name as it goes to the host: code page 437, or UTF-8 where the user's
// locale uses it (up to three bytes a character).
static constexpr std::size_t kHostNameSize = (kNameSize - 1) * kUtf8MaxLength + 1;

// The name (code page 437) as it goes to the host into hostName
// (kHostNameSize bytes).
static void FormatHostName(const char* name, bool utf8, char* hostName) {
    // kHostNameSize holds every name of kNameSize, converted or not.
    if (utf8) {
        (void)ConvertCp437ToUtf8(name, hostName, kHostNameSize);
    } else {
        (void)CopyText(hostName, kHostNameSize, name);
    }
}

// Appends name to path (kPathSize bytes, *length characters so far), after
// the path separator unless path is empty; false when it did not fit (path
// then holds as much as fitted).
static bool AppendComponent(char* path, std::size_t* length, const char* name) {
    const char separator[] = {kPathSeparator, '\0'};
    return (*length == 0 || AppendToField(path, kPathSize, length, separator)) &&
           AppendToField(path, kPathSize, length, name);
}

// The directories that hold node, from the outermost one down, joined by
// the path separator: in shown with their names as stored (code page 437, for the lines and
// messages), in host as they go to the host (converted to UTF-8 with utf8);
// both fields hold kPathSize bytes. *usable is cleared when a directory's name
// cannot be one here. False when host does not fit; both then hold their
// beginnings, for the messages (shown is never the longer one).
static bool BuildHostDirectoryPath(const TreeNode* node, bool utf8, char* host, char* shown,
                                   bool* usable) {
    // Each level takes at least two characters, so no more than the outermost
    // kPathSize / 2 directories can show; the walk up keeps the last ones it
    // passes in a ring, and a deeper nesting is too long in any case.
    const TreeNode* outermost[kPathSize / 2];
    const std::size_t ringSize = std::size(outermost);
    std::size_t depth = 0;
    for (const TreeNode* parent = node->parent; parent != nullptr; parent = parent->parent) {
        outermost[depth % ringSize] = parent;
        ++depth;
    }
    const std::size_t levels = depth < ringSize ? depth : ringSize;
    std::size_t hostLength = 0;
    std::size_t shownLength = 0;
    host[0] = '\0';
    shown[0] = '\0';
    *usable = true;
    bool fits = depth <= ringSize;
    for (std::size_t level = 0; level < levels; ++level) {
        const TreeNode* directory = outermost[(depth - 1 - level) % ringSize];
        char name[kNameSize];
        FormatStoredName(directory->entry, NameMarks::kE5Stand, name, std::size(name));
        if (!IsEntryNameUsableOnHost(directory->entry, name)) *usable = false;
        char hostName[kHostNameSize];
        FormatHostName(name, utf8, hostName);
        fits = AppendComponent(host, &hostLength, hostName) && fits;
        if (!AppendComponent(shown, &shownLength, name)) break;
    }
    return fits;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
static std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool ModificationTimeFromDos(std::uint16_t dateWord, std::uint16_t timeWord,
                             std::int64_t* seconds) {
    const unsigned year = 1980u + (dateWord >> 9);
    const unsigned month = (dateWord >> 5) & 0x0Fu;
    const unsigned day = dateWord & 0x1Fu;
    const unsigned hours = timeWord >> 11;
    const unsigned minutes = (timeWord >> 5) & 0x3Fu;
    const unsigned twoSeconds = timeWord & 0x1Fu;
    static constexpr unsigned kDaysInMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1]) return false;
    const bool leapYear = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leapYear) return false;
    if (hours > 23 || minutes > 59 || twoSeconds > 29) return false;
    *seconds = DaysFromCivil(year, month, day) * 86400 + hours * 3600 + minutes * 60 +
               twoSeconds * 2 - 3600;
    return true;
}

// Writes the file's bytes from its cluster chain: whole clusters up to the
// size in the entry, the last one as far as the size reaches, contiguous
// clusters in one write. Stops where the chain ends, leaves the data area or
// comes back to a cluster already written; a file that got fewer bytes than
// its size is incomplete (kErrorReadFault).
static std::uint32_t WriteChain(const FatVolume* volume, const std::uint8_t* entry, int handle) {
    std::uint32_t remaining = ReadLe32(entry + kEntryFileSize);
    std::uint16_t cluster = ReadLe16(entry + kEntryFirstCluster);
    ClusterBitmap written{};
    const std::uint8_t* runStart = nullptr;
    std::size_t runLength = 0;
    while (remaining > 0 && IsDataCluster(volume, cluster) && MarkCluster(&written, cluster)) {
        const std::uint8_t* address = ClusterAddress(volume, cluster);
        const std::uint32_t count = remaining < volume->clusterSize ? remaining : volume->clusterSize;
        if (runStart != nullptr && address != runStart + runLength) {
            std::uint32_t code = WriteHostFile(handle, runStart, runLength);
            if (code != 0) return code;
            runStart = nullptr;
            runLength = 0;
        }
        if (runStart == nullptr) runStart = address;
        runLength += count;
        remaining -= count;
        cluster = NextCluster(volume, cluster);
    }
    if (runLength > 0) {
        std::uint32_t code = WriteHostFile(handle, runStart, runLength);
        if (code != 0) return code;
    }
    return remaining > 0 ? kErrorReadFault : 0;
}

// Writes the entry's bytes, time and attributes into the file just created
// (handle) and closes it; 0 or a system error code. madeNew: the file was
// made by CreateNewHostFile, which gave it its permissions already. A file
// that could not be written whole gets neither time nor attributes.
static std::uint32_t FillHostFile(const FatVolume* volume, const std::uint8_t* entry, int handle,
                                  bool madeNew) {
    const std::uint32_t code = WriteChain(volume, entry, handle);
    const bool readOnly = (entry[kEntryAttributes] & kAttributeReadOnly) != 0;
    if (code != 0) {
        CloseUnfinishedHostFile(handle, madeNew && readOnly);
        return code;
    }
    // A file CreateNewHostFile made read-only needs no second look.
    return FinishHostFile(handle, ReadLe16(entry + kEntryDate), ReadLe16(entry + kEntryTime),
                          entry[kEntryAttributes], madeNew);
}

// Creates the file name inside directory from the entry; 0 or a system error
// code. existed tells what the exists check found: when it found nothing, the
// file is first created exclusively, which needs no look at what it opened.
static std::uint32_t WriteEntryFile(const FatVolume* volume, const std::uint8_t* entry,
                                    int directory, const char* name, bool existed) {
    int handle = -1;
    const bool readOnly = (entry[kEntryAttributes] & kAttributeReadOnly) != 0;
    if (!existed && CreateNewHostFile(directory, name, readOnly, &handle) == 0) {
        return FillHostFile(volume, entry, handle, true);
    }
    std::uint32_t code = CreateHostFile(directory, name, &handle);
    if (code != 0) return code;
    return FillHostFile(volume, entry, handle, false);
}

// Reports a failed file (code not 0) and gives kExitError, or prints its
// result line ("%s created.\r\n" or "%s replaced.\r\n") and gives 0.
static int FinishEntry(const char* destination, std::uint32_t code, bool existed) {
    if (code != 0) {
        ReportMessage("File '%s' could not be created.", kMessageError, code, destination);
        return kExitError;
    }
    // The destination fits a path field, so the line fits the console's buffer.
    char line[kPathSize + 16];
    std::size_t length = 0;
    line[0] = '\0';
    (void)AppendToField(line, std::size(line), &length, destination);
    (void)AppendToField(line, std::size(line), &length, existed ? " replaced.\r\n" : " created.\r\n");
    ConsoleWrite(line);
    return 0;
}

// Asks whether an existing file is to be replaced; true for replace. End of
// input counts as "N".
static bool AskToReplace(ExtractorRunState* state, const char* destination, bool* skip) {
    for (;;) {
        ConsolePrint("%s replace? [y]es [n]o [A]ll [N]one: ", destination);
        char answer[kAnswerSize];
        if (!ReadInputLine(answer, std::size(answer))) {
            ConsolePrint("\r\n");
            state->neverOverwrite = true;
            return false;
        }
        switch (answer[0]) {
            case 'y':
                return true;
            case 'n':
                *skip = true;
                return false;
            case 'A':
                state->overwriteAll = true;
                return true;
            case 'N':
                state->neverOverwrite = true;
                return false;
            default:
                break;
        }
    }
}

// Closes the open directories of the way below its first depth ones. Past
// the held ones only the innermost is open, so a way cut there keeps only
// the held ones.
static void CloseOpenDirectories(ExtractorRunState* state, std::size_t depth) {
    if (depth >= state->openDepth) return;
    if (state->openDepth > kHeldDirectoryCount) {
        CloseHostDirectory(state->innermostHandle);
        state->innermostHandle = kNoHostDirectory;
        state->openDepth = kHeldDirectoryCount;
    }
    while (state->openDepth > depth) {
        --state->openDepth;
        CloseHostDirectory(state->openHandles[state->openDepth]);
        state->openHandles[state->openDepth] = kNoHostDirectory;
    }
    // The way's path keeps its first openDepth names.
    std::size_t end = 0;
    for (std::size_t component = 0; component < state->openDepth; ++component) {
        if (component > 0) ++end;   // the separator before it
        while (state->openPath[end] != '\0' && state->openPath[end] != kPathSeparator) ++end;
    }
    state->openPath[end] = '\0';
}

void CloseExtractionDirectories(ExtractorRunState* state) {
    CloseOpenDirectories(state, 0);
    CloseHostDirectory(state->extractionHandle);
    state->extractionHandle = kNoHostDirectory;
}

// The number of leading components (names between separators) that two paths
// share; 0 when either is empty.
static std::size_t CountSharedComponents(const char* first, const char* second) {
    if (first[0] == '\0' || second[0] == '\0') return 0;
    std::size_t shared = 0;
    for (std::size_t i = 0;; ++i) {
        const bool firstEnds = first[i] == '\0' || first[i] == kPathSeparator;
        const bool secondEnds = second[i] == '\0' || second[i] == kPathSeparator;
        if (firstEnds && secondEnds) {
            ++shared;
            if (first[i] == '\0' || second[i] == '\0') return shared;
        } else if (first[i] != second[i]) {
            return shared;
        }
    }
}

// Gives in *directory the open handle of directoryPath (host names joined by
// the path separator, "" for the extraction directory itself), which stays owned by state.
// The extraction directory is opened at the first call. A directory below it
// is reached from the deepest open directory of the last call's way that
// lies on this one, opening each directory inside the one before, never
// through a link; the rest of the last way is closed. With create set, the
// missing directories are made on the way. 0 or the first error code;
// directories made before a failure stay.
static std::uint32_t OpenDestinationDirectory(ExtractorRunState* state, const char* directoryPath,
                                              bool create, int* directory) {
    *directory = kNoHostDirectory;
    if (state->extractionHandle == kNoHostDirectory) {
        const std::uint32_t code =
            OpenHostDirectory(state->extractionDirectory, &state->extractionHandle);
        if (code != 0) return code;
    }
    CloseOpenDirectories(state, CountSharedComponents(state->openPath, directoryPath));
    // The open way is now a beginning of directoryPath; the rest follows it.
    std::size_t depth = state->openDepth;
    int parent = state->extractionHandle;
    bool parentMade = false;
    if (depth > kHeldDirectoryCount) {
        parent = state->innermostHandle;
        parentMade = state->innermostMade;
    } else if (depth > 0) {
        parent = state->openHandles[depth - 1];
        parentMade = state->openMade[depth - 1];
    }
    std::size_t pathLength = std::strlen(state->openPath);
    const char* rest = directoryPath + pathLength;
    if (*rest == kPathSeparator) ++rest;
    while (*rest != '\0') {
        const char* end = std::strchr(rest, kPathSeparator);
        const std::size_t nameLength =
            end != nullptr ? static_cast<std::size_t>(end - rest) : std::strlen(rest);
        char name[kPathSize];
        if (pathLength + 1 + nameLength >= kPathSize) return kErrorFileNameTooLong;
        std::memcpy(name, rest, nameLength);
        name[nameLength] = '\0';
        int child = kNoHostDirectory;
        bool made = false;
        const std::uint32_t code =
            OpenHostSubdirectory(parent, name, create, parentMade, &child, &made);
        if (code != 0) return code;
        if (depth < kHeldDirectoryCount) {
            state->openHandles[depth] = child;
            state->openMade[depth] = made;
        } else {
            // Past the held directories only the innermost stays open.
            if (depth > kHeldDirectoryCount) CloseHostDirectory(state->innermostHandle);
            state->innermostHandle = child;
            state->innermostMade = made;
        }
        ++depth;
        state->openDepth = depth;
        // Fits: measured above.
        const char separator[] = {kPathSeparator, '\0'};
        if (pathLength > 0) (void)AppendToField(state->openPath, kPathSize, &pathLength, separator);
        (void)AppendToField(state->openPath, kPathSize, &pathLength, name);
        parent = child;
        parentMade = made;
        rest = end != nullptr ? end + 1 : rest + nameLength;
    }
    *directory = parent;
    return 0;
}

int ExtractEntry(ExtractorRunState* state, const FatVolume* volume, const TreeNode* node,
                 const EntryFields* fields) {
    const std::uint8_t* entry = node->entry;
    // Directories come into being as the directories of the files in them.
    if ((entry[kEntryAttributes] & kAttributeDirectory) != 0) return 0;
    // fields->name is the name as listed: a deleted entry's "?" makes it no
    // name for the host.
    const bool nameUsable = IsEntryNameUsableOnHost(entry, fields->name);
    char hostName[kHostNameSize];
    FormatHostName(fields->name, state->utf8Names, hostName);
    char directoryPath[kPathSize];        // as it goes to the host
    char shownDirectoryPath[kPathSize];   // as the lines show it
    bool directoriesUsable = true;
    const bool pathFits = BuildHostDirectoryPath(node, state->utf8Names, directoryPath,
                                                 shownDirectoryPath, &directoriesUsable);
    const bool intoDirectories = directoryPath[0] != '\0' && !state->junkPaths;
    const char* relative = intoDirectories ? directoryPath : "";

    // The destination the lines show: the extraction directory as typed,
    // shown in code page 437 like the names. Formatted even when the path
    // that goes to the host does not fit, so that the message shows it as
    // far as it fits; with junk paths the directories do not count.
    const char separator[] = {kPathSeparator, '\0'};
    char destination[kPathSize];
    std::size_t destinationLength = 0;
    destination[0] = '\0';
    (void)AppendToField(destination, std::size(destination), &destinationLength,
                        state->shownExtractionDirectory);
    // The host gets the destination piece by piece; only its length counts.
    std::size_t hostLength = std::strlen(state->extractionDirectory) + 1 + std::strlen(hostName);
    if (intoDirectories) {
        (void)AppendToField(destination, std::size(destination), &destinationLength, separator);
        (void)AppendToField(destination, std::size(destination), &destinationLength,
                            shownDirectoryPath);
        hostLength += 1 + std::strlen(directoryPath);
    }
    (void)AppendToField(destination, std::size(destination), &destinationLength, separator);
    (void)AppendToField(destination, std::size(destination), &destinationLength, fields->name);
    const bool destinationFits = hostLength < kPathSize && (!intoDirectories || pathFits);
    if (!destinationFits) {
        ReportMessage("File '%s' could not be created.", kMessageError, kErrorFileNameTooLong,
                      destination);
        return kExitError;
    }

    const bool safeToLook = nameUsable && (!intoDirectories || directoriesUsable);
    const bool readOnly = (entry[kEntryAttributes] & kAttributeReadOnly) != 0;
    int directory = kNoHostDirectory;
    // Where nothing stands at the destination, creating the file exclusively
    // answers the exists check as well. Its directories are made first: where
    // one was missing, the file cannot have existed, so the way below would
    // have asked nothing and made them all the same. Any other case takes
    // the whole way below, as though this had not been tried.
    if (safeToLook && OpenDestinationDirectory(state, relative, intoDirectories, &directory) == 0) {
        int handle = -1;
        if (CreateNewHostFile(directory, hostName, readOnly, &handle) == 0) {
            return FinishEntry(destination, FillHostFile(volume, entry, handle, true), false);
        }
    }
    const bool exists = safeToLook &&
                        OpenDestinationDirectory(state, relative, false, &directory) == 0 &&
                        IsExistingEntry(directory, hostName, false);
    bool replace = true;
    bool skip = false;
    if (exists) {
        if (state->overwriteAll) {
            replace = true;
        } else if (state->neverOverwrite) {
            replace = false;
        } else {
            replace = AskToReplace(state, destination, &skip);
        }
    }
    if ((exists && !replace) || skip) {
        ConsolePrint("%s skipped.\r\n", fields->name);
        return 0;
    }

    if (intoDirectories) {
        const std::uint32_t code = directoriesUsable
                                       ? OpenDestinationDirectory(state, relative, true, &directory)
                                       : kErrorInvalidName;
        if (code != 0) {
            const char* base = state->shownExtractionDirectory;
            const std::size_t baseLength = std::strlen(base);
            const bool separatorEnds = baseLength > 0 && base[baseLength - 1] == kPathSeparator;
            char combined[kPathSize];
            (void)FormatText(combined, std::size(combined), "%s%s%s", base,
                             separatorEnds ? "" : separator,
                             shownDirectoryPath);   // shown as far as it fits
            ReportMessage("Directory %s could not be created.", kMessageError, code, combined);
            return kExitError;
        }
    }
    std::uint32_t code = kErrorOpenFailed;
    if (nameUsable && OpenDestinationDirectory(state, relative, false, &directory) == 0) {
        code = WriteEntryFile(volume, entry, directory, hostName, exists);
    }
    return FinishEntry(destination, code, exists);
}
