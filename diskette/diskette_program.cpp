// diskette_program.cpp - the parts the two diskette programs' main routines share.
#include "diskette/diskette_program.h"

#include <cstdint>
#include <cstring>
#include <iterator>

#include "console/console.h"
#include "console/keys.h"
#include "console/message.h"
#include "console/program.h"
#include "console/text.h"
#include "diskette/device.h"
#include "diskette/write_pipeline.h"
#include "image/image_file.h"
#include "image/image_reader.h"
#include "image/used_track_map.h"

static constexpr int kKeySkip = 'S';
static constexpr int kKeySkipSmall = 's';

void StartDisketteProgram(InfoLineWording wording) {
    StartConsoleProgram(OutputVariant::kConsole);
    SetProgressWording(wording);
    EnterKeyMode();
}

void PrintProgramBanner(const char* titleLines, const char* programName) {
    ConsolePrint("\x1b\x0B"
                 "%s"
                 "\x1b\x0E"
                 "Enter '%s /?' to show help \r\n"
                 "\x1b\x07",
                 titleLines, programName);
}

void PrintProgramTitle(const char* titleLines) {
    ConsolePrint("\x1b\x0B%s\x1b\x07", titleLines);
}

bool AnswerLinuxWord(int argumentCount, char** arguments, const char* titleLines,
                     const char* programName, UsagePrinter printUsage) {
    const LinuxWord word = FindLinuxWord(argumentCount, arguments, nullptr);
    // Asked for on purpose, often into a pager or a file: the text goes to
    // standard output whatever it is, as a file program's does.
    if (word != LinuxWord::kNone) SetOutputVariant(OutputVariant::kFile);
    if (word == LinuxWord::kHelp) {
        PrintProgramBanner(titleLines, programName);
        printUsage(programName);
    } else if (word == LinuxWord::kVersion) {
        PrintProgramTitle(titleLines);
    }
    return word != LinuxWord::kNone;
}

void PrepareRunRecord(ImageRecord* image) {
    *image = ImageRecord{};
    image->fileHandle = -1;
    (void)CopyText(image->driveName, std::size(image->driveName), "A:");
    image->prompt = true;
}

bool CopyArgumentUpperCased(const char* argument, char* upper, std::size_t upperSize) {
    if (!CopyArgumentField(upper, upperSize, argument)) return false;
    UpperCaseArgument(upper);
    return true;
}

bool IsOption(const char* argument, bool takesPaths) {
    if (argument[0] == '-') return true;
    if (argument[0] != '/') return false;
    return !takesPaths || !kSlashBeginsPaths || (argument[1] != '\0' && argument[2] == '\0');
}

int CheckDisketteDrive(const ImageRecord* image, int resultCode) {
    if (resultCode != kExitSuccess || IsDisketteDrive(image->driveName)) return resultCode;
    ReportMessage("'%s' is not a diskette drive.", kMessageError, 0, image->driveName);
    return kExitError;
}

bool OpenRunFile(ImageRecord* image, const char* openPath) {
    image->fileHandle = OpenImageFile(openPath);
    if (image->fileHandle < 0) {
        ReportMessage("Image data of '%s' could not be accessed.", kMessageError, 0,
                      image->imageFileName);
        return false;
    }
    // A drive that is this very file would have the image written over
    // itself while it is read; only listing leaves the drive alone.
    if (!image->listOnly && IsDriveTheFile(image->driveName, image->fileHandle)) {
        ReportMessage("'%s' is the image file itself; it cannot be written onto.", kMessageError,
                      0, image->driveName);
        CloseImageFile(image->fileHandle);
        image->fileHandle = -1;
        return false;
    }
    image->pollKeys = true;
    return true;
}

bool TakeWritingOption(const char* name, ImageRecord* image, bool* writeAll) {
    if (std::strcmp(name, "F") == 0) {
        image->format = true;
    } else if (std::strcmp(name, "V") == 0) {
        image->verify = true;
    } else if (std::strcmp(name, "S") == 0) {
        image->prompt = false;
    } else if (std::strcmp(name, "A") == 0) {
        *writeAll = true;
    } else {
        return false;
    }
    return true;
}

std::int32_t ReadNumberLikeAtoi(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Counted up to one past INT32_MAX, where a negative value ends; a positive
    // one ends a step earlier.
    constexpr std::int64_t kLimit = static_cast<std::int64_t>(INT32_MAX) + 1;
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(value > INT32_MAX ? INT32_MAX : value);
}

bool IsDriveName(const char* argument) {
    return argument[0] != '\0' && argument[1] == ':' && argument[2] == '\0';
}

static bool IsAcceptedKey(int key, PromptForm form) {
    if (key == kKeyEnter || key == kKeyEsc) return true;
    return form == PromptForm::kSelfDisk && (key == kKeySkip || key == kKeySkipSmall);
}

static void ShowPrompt(const ImageRecord* image, PromptForm form) {
    if (form == PromptForm::kSelfDisk) {
        ReportMessage("Insert diskette #%u into '%s' - ENTER=Continue  S=Skip  ESC=Cancel\r",
                      kMessagePrompt, 0, static_cast<unsigned>(image->disketteNumber),
                      image->driveName);
    } else if (form == PromptForm::kNumbered) {
        ReportMessage("Insert diskette #%u into '%s' - ENTER=Continue  ESC=Cancel\r",
                      kMessagePrompt, 0, static_cast<unsigned>(image->disketteNumber),
                      image->driveName);
    } else {
        ReportMessage("Insert diskette into '%s' - ENTER=Continue  ESC=Cancel\r", kMessagePrompt, 0,
                      image->driveName);
    }
}

static void ShowWaitingNotice(const ImageRecord* image, PromptForm form) {
    if (form != PromptForm::kWriter) {
        ReportMessage("WAITING for diskette #%u in '%s'...  ESC=Cancel\r", kMessagePrompt, 0,
                      static_cast<unsigned>(image->disketteNumber), image->driveName);
    } else {
        ReportMessage("WAITING for diskette in '%s'...  ESC=Cancel\r", kMessagePrompt, 0,
                      image->driveName);
    }
}

DisketteAnswer GetDiskette(const ImageRecord* image, PromptForm form, bool acceptPresent) {
    DisketteAnswer answer = DisketteAnswer::kCancelled;
    if (image->prompt) {
        ShowPrompt(image, form);
        int key = kKeyNone;
        while (!IsAcceptedKey(key, form) && key != kKeyEndOfInput) key = WaitForKey();
        if (key == kKeyEndOfInput) answer = DisketteAnswer::kEndOfInput;
        if (key == kKeyEnter) answer = DisketteAnswer::kReady;
        if (key == kKeySkip || key == kKeySkipSmall) answer = DisketteAnswer::kSkipped;
    } else {
        ShowWaitingNotice(image, form);
        if (WaitForDiskette(image->driveName, acceptPresent, kKeyEsc) == 1) {
            answer = DisketteAnswer::kReady;
        }
    }
    if (answer == DisketteAnswer::kCancelled || answer == DisketteAnswer::kEndOfInput) {
        ReportMessage("Process canceled.", kMessageError, 0);
    }
    if (answer == DisketteAnswer::kSkipped) {
        ReportMessage("Diskette #%u skipped.", kMessageNotice, 0,
                      static_cast<unsigned>(image->disketteNumber));
    }
    return answer;
}

int ReadAndWriteDiskette(ImageRecord* image, bool write, bool writeAll) {
    int resultCode = kExitSuccess;
    if (!ReadImage(image, ShowProgress)) {
        resultCode = kExitError;
    } else if (write) {
        // A two-sector cluster may cross from one track side into the next;
        // the whole cluster must reach the diskette, not just its first half.
        CompleteUsedTrackMap(image);
        image->skipUnused = writeAll ? 0 : 1;
        if (!WriteDiskette(image)) resultCode = kExitError;
    }
    FreeImage(image);
    return resultCode;
}
