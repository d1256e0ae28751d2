// command_line.cpp - the first half of the image extractor: banner, argument
// parsing and help text; the run itself is in extractor_run.cpp.
#include "extractor/command_line.h"

#include <cstring>

#include "console/console.h"
#include "console/message.h"
#include "console/program.h"
#include "extractor/extractor_run.h"
#include "extractor/host.h"

void StartExtractorRun(ExtractorRunState* state, int argumentCount, char** arguments) {
    *state = ExtractorRunState{};
    state->argumentCount = argumentCount;
    state->arguments = arguments;
    state->includeFirst = kSpanNotSet;
    state->includeLast = kSpanNotSet;
    state->excludeFirst = kSpanNotSet;
    state->excludeLast = kSpanNotSet;
    state->utf8Names = IsLocaleUtf8();
    state->extractionHandle = kNoHostDirectory;
    GetProgramName(argumentCount > 0 ? arguments[0] : "imgextract", true, state->programName,
                   std::size(state->programName));
    // A current directory too long for the field is still reachable as ".".
    if (!GetWorkingDirectory(state->extractionDirectory, std::size(state->extractionDirectory))) {
        state->extractionDirectory[0] = '.';
        state->extractionDirectory[1] = '\0';
    }
    state->imageFileName[0] = '\0';
}

void PrintExtractorBanner() {
    ConsolePrint("\x1b\x0B" "VELMORATRAX's image file extractor for Windows NT\r\n"
                 "Version 1.0b\r\n"
                 "\x1b\x07");
}

void PrintExtractorHelp(const char* programName) {
    ConsolePrint("\x1b\x0F"
                 "Usage:\t%s [options] file list [-x xl] [-d exdir]\r\n"
                 "file:\tName of the image file (VELMORATRAX,SAVEDSKF,DSKIMAGE,VMDISK)\r\n"
                 "options:\t-v\tDisplay the image file contents only\r\n"
                 "\t\t-j\tJunk paths (don't make directories)\r\n"
                 "\t\t-o\tOverwrite existing files\r\n"
                 "\t\t-n\tNever overwrite existing files\r\n"
                 "\t\tlist\tProcess only files spezified in 'list'\r\n"
                 "\t\t-x xl\tExclude files spezified in 'xl'\r\n"
                 "\t\t-d dir\tExtract to directory 'dir'\r\n"
                 "example:\t%s -v EXAMPLE.DSK\r\n"
                 "\t\t%s EXAMPLE.IMG *.d* *.exe -x *.dat *.ddd -d C:\\EXAMPLE\r\n"
                 "\r\n"
                 "Lists or extracts the files of a FAT12 diskette image, with their\r\n"
                 "directories, dates, times and the read-only attribute. Patterns are\r\n"
                 "matched against the path from the root, such as \\NAME.TXT or\r\n"
                 "DIR\\SUB\\NAME.TXT; they hold * ? <set> and / as the escape character.\r\n"
                 "%s"
                 "\x1b\x07",
                 programName, programName, programName,
                 kAnswersLinuxWords
                     ? "--help shows this text, --version the version; both end with exit code 0.\r\n"
                     : "");
}

// An argument that starts with "-" is a switch, and so is one that starts
// with "/", except where "/" also begins every absolute path (and in a
// pattern it is the escape character): there only a switch name may follow.
static bool IsSwitch(const char* argument) {
    if (argument[0] == '-') return true;
    if (argument[0] != '/') return false;
    if (!kSlashBeginsPaths) return true;
    static const char* const kSwitchNames[] = {"v", "j", "n", "o", "d", "x"};
    for (const char* name : kSwitchNames) {
        if (std::strcmp(argument + 1, name) == 0) return true;
    }
    return false;
}

int ParseExtractorArguments(ExtractorRunState* state) {
    int ok = 1;
    for (int position = 1; position < state->argumentCount && ok; ++position) {
        const char* argument = state->arguments[position];
        const bool haveImage = state->imageFileName[0] != '\0';
        if (IsSwitch(argument)) {
            const char* name = argument + 1;
            if (std::strcmp(name, "v") == 0 && !haveImage) {
                state->listingMode = true;
            } else if (std::strcmp(name, "j") == 0 && !haveImage) {
                state->junkPaths = true;
            } else if (std::strcmp(name, "n") == 0 && !haveImage) {
                state->neverOverwrite = true;
            } else if (std::strcmp(name, "o") == 0 && !haveImage) {
                state->overwriteAll = true;
            } else if (std::strcmp(name, "d") == 0) {
                // An empty directory (an unset variable in a script) would
                // make every destination "/NAME", at the root of the file
                // system: it counts as missing.
                if (position + 1 >= state->argumentCount ||
                    state->arguments[position + 1][0] == '\0') {
                    ReportMessage("Parameter for extraction directory is missing.", kMessageError, 0);
                    ok = 0;
                } else {
                    ++position;
                    ok = CopyArgumentField(state->extractionDirectory,
                                           std::size(state->extractionDirectory),
                                           state->arguments[position]);
                }
            } else if (std::strcmp(name, "x") == 0 && state->excludeFirst == kSpanNotSet) {
                state->excludeFirst = position + 1;
                if (state->includeLast == kSpanNotSet) state->includeLast = position - 1;
            } else {
                ReportMessage("Unknown or misplaced parameter '%s'.", kMessageError, 0, argument);
                ok = 0;
            }
        } else if (!haveImage) {
            ok = CopyArgumentField(state->imageFileName, std::size(state->imageFileName), argument);
        } else if (state->includeFirst == kSpanNotSet && state->excludeFirst == kSpanNotSet) {
            state->includeFirst = position;
        }
    }
    const int lastPosition = state->argumentCount - 1;
    if (state->includeLast == kSpanNotSet) state->includeLast = lastPosition;
    if (state->excludeLast == kSpanNotSet) state->excludeLast = lastPosition;
    return ok;
}

int RunExtractorProgram(int argumentCount, char** arguments) {
    ExtractorRunState state{};
    StartExtractorRun(&state, argumentCount, arguments);
    PrintExtractorBanner();
    // The directory after a d switch is a name, whatever it reads.
    const LinuxWord request = FindLinuxWord(argumentCount, arguments, "d");
    if (request == LinuxWord::kVersion) return kExitSuccess;
    if (request == LinuxWord::kHelp) {
        PrintExtractorHelp(state.programName);
        return kExitSuccess;
    }
    if (argumentCount <= 1) {
        PrintExtractorHelp(state.programName);
        return kExitHelp;
    }
    if (!ParseExtractorArguments(&state)) return kExitError;
    if (state.imageFileName[0] == '\0') {
        PrintExtractorHelp(state.programName);
        return kExitError;
    }
    return RunExtraction(&state);
}
