// selfdisk_run.cpp - the self-creating diskette's run: command line, payload
// header, description box and the loop over the carried diskettes.
#include "selfdisk/selfdisk_run.h"

#include <cstring>
#include <iterator>

#include "console/console.h"
#include "console/message.h"
#include "console/program.h"
#include "console/system_error.h"
#include "console/text.h"
#include "diskette/diskette_program.h"
#include "image/image_file.h"
#include "image/image_record.h"
#include "selfdisk/payload.h"

static constexpr char kTitleLines[] =
    "VELMORATRAX's self-creating diskette for Windows NT\r\n"
    "Version 1.1\r\n";

// The description box: 60 columns between its borders, and on the top line 22
// rule characters after the count (one column more for a three-digit count).
static constexpr std::size_t kBoxInnerWidth = 60;
static constexpr int kTopRuleLength = 22;
static constexpr char kRuleCharacter = '\xC4';

// What the command line asks for beside the fields it sets in the image
// record (drive name, format, verify, prompt, list only).
struct SelfDiskOptions {
    bool writeAll;                         // /A: write every track side, used or not
    bool selected;                         // /N:n given: only diskette selectedNumber is written
    std::int32_t selectedNumber;           // n as /N:n gives it; valid only from 1 to the count
    int resultCode;                        // 0, kExitHelp after /?, kExitError; the last one set wins
};

static void PrintUsage(const char* programName) {
    ConsolePrint("\x1b\x0F"
                 "Usage:\t%s [Drive] [Options]\r\n"
                 "Drive:\tdrive letter of the target diskette drive (default is A:)\r\n"
                 "Options:/?\tShow this help\r\n"
                 "\t/A\tWrite all tracks (even if unused)\r\n"
                 "\t/D\tDisplay contents only\r\n"
                 "\t/S\tSuppress prompt\r\n"
                 "\t/F\tformat diskette\r\n"
                 "\t/N:n\twrite only diskette #n (n=1 to quantity)\r\n"
                 "\t/V\tverify writing\r\n"
                 "Example:\t%s B: /F\r\n\n"
                 "%s%s"
                 "\x1b\x07",
                 programName, programName, programName, kSelfDiskInformation);
}

// Takes one argument, upper-cased in place over its whole length (there is no
// file name here to keep as typed, so no copy and no length limit). Every
// option may be longer than a letter (/N:n), and everything that begins with
// "/" or "-" is an option.
static void TakeArgument(char* argument, ImageRecord* image, SelfDiskOptions* options,
                         const char* programName) {
    UpperCaseArgument(argument);
    const char* upper = argument;
    if (!IsOption(upper, false)) {
        if (IsDriveName(upper)) {
            (void)CopyText(image->driveName, std::size(image->driveName), upper);
        } else {
            ReportMessage("Unknown parameter '%s'.", kMessageError, 0, upper);
            options->resultCode = kExitError;
        }
        return;
    }
    const char* name = upper + 1;
    if (TakeWritingOption(name, image, &options->writeAll)) return;
    if (std::strcmp(name, "D") == 0) {
        image->listOnly = true;
    } else if (std::strncmp(name, "N:", 2) == 0) {
        options->selected = true;
        options->selectedNumber = ReadNumberLikeAtoi(name + 2);
    } else if (std::strcmp(name, "?") == 0) {
        PrintUsage(programName);
        options->resultCode = kExitHelp;
    } else {
        ReportMessage("Unknown parameter '%s'.", kMessageError, 0, upper);
        options->resultCode = kExitError;
    }
}

// The box around the description, in bright white: the top line with the
// diskette count, one line per description line (cut at each LF; a line
// longer than 60 characters pushes the right border out), the bottom line.
// An ESC pair inside the description changes the colour like any other; the
// bottom line sets it back to normal whatever the description did.
static void ShowDescription(const PayloadHeader* header) {
    const unsigned count = static_cast<unsigned>(header->disketteCount);
    if (header->descriptionLength == 0) {
        ConsolePrint("File contains %u diskette(s), no description was included\r\n", count);
        return;
    }
    char rule[kBoxInnerWidth + 1];
    std::memset(rule, kRuleCharacter, kBoxInnerWidth);
    rule[kBoxInnerWidth] = '\0';
    ConsolePrint("\x1b\x0F"
                 "\xDA\xC4"
                 "Description"
                 "\xC4"
                 "[%2u diskette(s) included]%.*s\xBF\r\n",
                 count, kTopRuleLength, rule);

    char line[kDescriptionSize];
    std::size_t lineLength = 0;
    for (std::size_t position = 0; position <= header->descriptionLength; ++position) {
        const bool lineEnds = position == header->descriptionLength ||
                              header->description[position] == kDescriptionLineEnd;
        if (!lineEnds) {
            line[lineLength++] = header->description[position];
            continue;
        }
        line[lineLength] = '\0';
        ConsolePrint("\xB3%-60s\xB3\r\n", line);
        lineLength = 0;
    }

    char bottom[kBoxInnerWidth + 8];
    (void)FormatText(bottom, std::size(bottom), "\xC0%s\xD9\r\n\x1b\x07", rule);
    ConsoleWrite(bottom);
}

// The loop over the carried diskettes, from image 1 on at image->startOffset.
// Every image is read, also one that is skipped or only listed, since the
// next one begins where it ends. Returns the exit code.
static int HandleDiskettes(ImageRecord* image, const SelfDiskOptions* options) {
    bool acceptPresent = true;
    for (std::uint32_t number = 1; number <= image->disketteCount; ++number) {
        // The selection was checked against the count: 1 <= selectedNumber.
        const std::uint32_t selected = static_cast<std::uint32_t>(options->selectedNumber);
        bool skip = options->selected && number != selected;
        if (skip && selected < number) break;   // the selected diskette has been handled
        image->disketteNumber = number;
        if (!image->listOnly && !skip) {
            const DisketteAnswer answer = GetDiskette(image, PromptForm::kSelfDisk, acceptPresent);
            if (answer == DisketteAnswer::kCancelled) return kExitSuccess;
            if (answer == DisketteAnswer::kEndOfInput) return kExitError;
            if (answer == DisketteAnswer::kSkipped) skip = true;
            // From now on the diskette just written is not taken again: the
            // drive must be seen without a diskette first.
            if (answer == DisketteAnswer::kReady && !image->prompt) acceptPresent = false;
        }
        image->skipDiskette = skip;
        const int resultCode =
            ReadAndWriteDiskette(image, !image->listOnly && !skip, options->writeAll);
        if (resultCode != kExitSuccess) return resultCode;
    }
    return kExitSuccess;
}

int RunSelfDisk(int argumentCount, char** arguments, const char* openPath,
                const char* shownPath, const char* programName) {
    if (AnswerLinuxWord(argumentCount, arguments, kTitleLines, programName, PrintUsage)) {
        return kExitSuccess;
    }

    ImageRecord image{};
    PrepareRunRecord(&image);
    // The name field only names the file in messages: the file is opened by
    // openPath as given, never by a path cut to fit the field.
    (void)CopyText(image.imageFileName, std::size(image.imageFileName), shownPath);
    PrintProgramBanner(kTitleLines, programName);
    SelfDiskOptions options{};
    for (int position = 1; position < argumentCount; ++position) {
        TakeArgument(arguments[position], &image, &options, programName);
    }
    options.resultCode = CheckDisketteDrive(&image, options.resultCode);
    if (options.resultCode != kExitSuccess) return options.resultCode;

    if (!OpenRunFile(&image, openPath)) return kExitError;

    int resultCode = kExitSuccess;
    PayloadHeader header{};
    const bool headerRead = ReadPayloadHeader(image.fileHandle, &header);
    if (headerRead) {
        image.startOffset = header.firstImageOffset;
        ShowDescription(&header);
    } else {
        ReportMessage("The header of the image data from '%s' could not be read.", kMessageError,
                      kErrorReadFault, programName);
        resultCode = kExitError;
    }
    image.disketteCount = header.disketteCount;
    if (options.selected && (options.selectedNumber < 1 ||
                             static_cast<std::uint32_t>(options.selectedNumber) >
                                 image.disketteCount)) {
        ReportMessage("Invalid diskette #%u (only 1 to %u).", kMessageError, 0,
                      static_cast<unsigned>(options.selectedNumber),
                      static_cast<unsigned>(image.disketteCount));
        resultCode = kExitError;
    }
    if (resultCode == kExitSuccess) resultCode = HandleDiskettes(&image, &options);
    CloseImageFile(image.fileHandle);
    return resultCode;
}
