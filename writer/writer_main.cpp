// writer_main.cpp - the diskette writer: reads one diskette image file and
// writes it onto the diskette in a drive. Command line: image file name,
// drive name and options in any order; exit code 0 written (or cancelled at
// the prompt), 1 usage text shown, 3 any error.
#include <cstring>

#include "console/message.h"
#include "console/program.h"
#include "console/text.h"
#include "diskette/diskette_program.h"
#include "image/image_file.h"
#include "image/image_format.h"

// What the command line asks for, beside the fields it sets in the image
// record (drive name, image file name, format, verify, prompt).
struct WriterOptions {
    bool writeAll;                         // /A: write every track side, used or not
    int resultCode;                        // 0, kExitHelp after /?, kExitError; the last one set wins
};

static constexpr char kTitleLines[] =
    "VELMORATRAX's diskette writer for Windows NT\r\n"
    "Version 1.0\r\n";

static void PrintUsage(const char* programName) {
    ConsolePrint("\x1b\x0F"
                 "Usage:\t%s Image [Drive] [Options]\r\n"
                 "Image:\tName of the image file to read\r\n"
                 "Drive:\tdrive letter of the target diskette drive (default is A:)\r\n"
                 "Options:/?\tShow this help\r\n"
                 "\t/A\tWrite all tracks (even if unused)\r\n"
                 "\t/S\tSuppress prompt\r\n"
                 "\t/F\tformat diskette\r\n"
                 "\t/V\tverify writing\r\n"
                 "Example:\t%s EXAMPLE.IMG B: /F\r\n\n"
                 "%s"
                 "\x1b\x07",
                 programName, programName, kWriterInformation);
}

// Takes one argument. Options and drive names are examined upper-cased, in
// a copy; so is the image file name where file names ignore case, and as
// typed where they do not. An argument longer than a name field is refused.
static void TakeArgument(const char* argument, ImageRecord* image, WriterOptions* options,
                         const char* programName) {
    char upper[kPathSize];
    if (!CopyArgumentUpperCased(argument, upper, std::size(upper))) {
        options->resultCode = kExitError;
        return;
    }
    // Options are single letters where a longer argument that begins with
    // "/" is an absolute path.
    if (IsOption(upper, true)) {
        const char* name = upper + 1;
        if (std::strcmp(name, "?") == 0) {
            PrintUsage(programName);
            options->resultCode = kExitHelp;
        } else if (!TakeWritingOption(name, image, &options->writeAll)) {
            ReportMessage("Unknown parameter '%s'.", kMessageError, 0, upper);
            options->resultCode = kExitError;
        }
    } else if (IsDriveName(upper)) {
        (void)CopyText(image->driveName, std::size(image->driveName), upper);
    } else {
        (void)CopyText(image->imageFileName, std::size(image->imageFileName),
                       kFileNamesKeepCase ? argument : upper);
    }
}

int main(int argumentCount, char** arguments) {
    char programName[kPathSize];
    StartDisketteProgram(InfoLineWording::kWriter);
    GetProgramName(argumentCount > 0 ? arguments[0] : "dskwrite", false, programName,
                   std::size(programName));

    if (AnswerLinuxWord(argumentCount, arguments, kTitleLines, programName, PrintUsage)) {
        return kExitSuccess;
    }

    PrintProgramBanner(kTitleLines, programName);
    ImageRecord image{};
    PrepareRunRecord(&image);
    image.disketteCount = 1;
    image.disketteNumber = 1;
    WriterOptions options{};
    for (int position = 1; position < argumentCount; ++position) {
        TakeArgument(arguments[position], &image, &options, programName);
    }
    // Nothing is opened before the whole command line has been checked.
    if (options.resultCode == kExitSuccess && image.imageFileName[0] == '\0') {
        ReportMessage("Name of image file is missing.", kMessageError, 0);
        options.resultCode = kExitError;
    }
    options.resultCode = CheckDisketteDrive(&image, options.resultCode);
    if (options.resultCode != kExitSuccess) return options.resultCode;

    if (!OpenRunFile(&image, image.imageFileName)) return kExitError;
    int resultCode = kExitSuccess;
    const DisketteAnswer answer = GetDiskette(&image, PromptForm::kWriter, true);
    if (answer == DisketteAnswer::kReady) {
        resultCode = ReadAndWriteDiskette(&image, true, options.writeAll);
    } else if (answer == DisketteAnswer::kEndOfInput) {
        resultCode = kExitError;
    }
    CloseImageFile(image.fileHandle);
    return resultCode;
}
