// mkselfdisk_main.cpp - the builder of self-creating diskettes:
//   mkselfdisk -o OUTPUT [-t "description" | -T FILE] [-c] [-s STUB] IMAGE...
// Exit code 0 made (or --help, --version), 1 usage text shown for want of
// arguments, 3 any error; messages go through the message reporter to
// standard output, with the system's own text where it gave a reason.
#include <cstring>
#include <iterator>

#include "console/console.h"
#include "console/message.h"
#include "console/program.h"
#include "console/text.h"
#include "image/image_file.h"
#include "image/output_file.h"
#include "mkselfdisk/description.h"
#include "mkselfdisk/selfdisk_builder.h"
#include "selfdisk/payload.h"

// A description file larger than this cannot fit 255 bytes of code page 437:
// no character takes more than three bytes of UTF-8, CR LF two.
static constexpr std::size_t kDescriptionFileSize = 1024;
static constexpr char kStubName[] = "selfdisk";
static constexpr char kTitleLines[] =
    "mkselfdisk, the builder of self-creating diskettes\r\n"
    "Version 1.1\r\n";

struct BuilderCommand {
    const char* outputPath;                // -o
    const char* descriptionText;           // -t, UTF-8
    const char* descriptionFile;           // -T
    const char* stubPath;                  // -s; nullptr: selfdisk beside this program
    bool compact;                          // -c
    LinuxWord word;                        // the first of --help and --version
    const char* imagePaths[kMaximumDisketteCount];   // the first ones given
    std::uint32_t imageCount;              // all given, also beyond the ones kept
    int resultCode;
};

static void PrintUsage(const char* programName) {
    ConsolePrint("\x1b\x0F"
                 "Usage: %s -o OUTPUT [-t \"description\" | -T FILE] [-c] [-s STUB] IMAGE...\r\n"
                 "Makes a self-creating diskette: a copy of the selfdisk program that carries\r\n"
                 "the images and the description, and writes them onto diskettes when run.\r\n"
                 "  -o OUTPUT  the program to make; written in full before it takes that name\r\n"
                 "  -t TEXT    the description (UTF-8, lines separated by line feeds)\r\n"
                 "  -T FILE    the description from a UTF-8 text file\r\n"
                 "  -c         store each image in the native format with a CRC-32, leaving out\r\n"
                 "             the track sides without data where that loses nothing\r\n"
                 "  -s STUB    the selfdisk program to copy (default: selfdisk beside %s)\r\n"
                 "  --help     show this text\r\n"
                 "  --version  show the version\r\n"
                 "At most 255 images and 255 bytes of description in code page 437; each image\r\n"
                 "in any format selfdisk reads, stored as far as its data goes.\r\n"
                 "\x1b\x07",
                 programName, programName);
}

// Takes the arguments into command; a wrong one is reported and sets the
// result code.
static void TakeArguments(int argumentCount, char** arguments, BuilderCommand* command) {
    bool optionsEnded = false;
    for (int position = 1; position < argumentCount; ++position) {
        const char* argument = arguments[position];
        if (optionsEnded || argument[0] != '-' || argument[1] == '\0') {
            if (command->imageCount < kMaximumDisketteCount) {
                command->imagePaths[command->imageCount] = argument;
            }
            ++command->imageCount;
            continue;
        }
        if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(argument, "--help") == 0 ||
                   std::strcmp(argument, "--version") == 0) {
            if (command->word == LinuxWord::kNone) {
                command->word = argument[2] == 'h' ? LinuxWord::kHelp : LinuxWord::kVersion;
            }
        } else if (std::strcmp(argument, "-c") == 0) {
            command->compact = true;
        } else if (std::strcmp(argument, "-o") == 0 || std::strcmp(argument, "-t") == 0 ||
                   std::strcmp(argument, "-T") == 0 || std::strcmp(argument, "-s") == 0) {
            if (position + 1 >= argumentCount) {
                ReportMessage("The option '%s' needs a value.", kMessageError, 0, argument);
                command->resultCode = kExitError;
                continue;
            }
            const char* value = arguments[++position];
            if (argument[1] == 'o') command->outputPath = value;
            if (argument[1] == 't') command->descriptionText = value;
            if (argument[1] == 'T') command->descriptionFile = value;
            if (argument[1] == 's') command->stubPath = value;
        } else {
            ReportMessage("Unknown parameter '%s'.", kMessageError, 0, argument);
            command->resultCode = kExitError;
        }
    }
}

// Reads the description file into text (textSize bytes, NUL included),
// without a byte order mark at its start and one line end at its very end.
// Returns true with *textLength, or false after reporting.
static bool ReadDescriptionFile(const char* path, char* text, std::size_t textSize,
                                std::size_t* textLength) {
    const int fileHandle = OpenImageFile(path);
    if (fileHandle < 0) {
        ReportMessage("The description file '%s' could not be opened.", kMessageError, 0, path);
        return false;
    }
    std::uint64_t readCount = 0;
    const std::uint32_t code =
        ReadFileBytes(fileHandle, reinterpret_cast<std::uint8_t*>(text), textSize, &readCount);
    CloseImageFile(fileHandle);
    if (code != 0) {
        ReportMessage("The description file '%s' could not be read.", kMessageError, code, path);
        return false;
    }
    if (readCount >= textSize) {
        ReportDescriptionTooLong(kMaximumDescriptionLength);
        return false;
    }
    std::size_t length = static_cast<std::size_t>(readCount);
    // Some editors begin a UTF-8 file with a byte order mark; it is no
    // character of the description.
    static constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
    constexpr std::size_t kMarkLength = std::size(kByteOrderMark) - 1;
    if (length >= kMarkLength && std::memcmp(text, kByteOrderMark, kMarkLength) == 0) {
        length -= kMarkLength;
        std::memmove(text, text + kMarkLength, length);
    }
    // A text file ends its last line with a line end; that is no empty line.
    if (length > 0 && text[length - 1] == '\n') --length;
    if (length > 0 && text[length - 1] == '\r') --length;
    text[length] = '\0';
    *textLength = length;
    return true;
}

// The selfdisk program in the directory of this program's own file, with the
// extension this program's file has (".exe" on Windows).
static bool FindStubBesideProgram(char* path, std::size_t pathSize) {
    char programPath[kPathSize];
    if (!GetProgramPath(programPath, std::size(programPath))) return false;
    char* separator = std::strrchr(programPath, kPathSeparator);
    if (separator == nullptr) return false;
    *separator = '\0';
    const char* extension = std::strrchr(separator + 1, '.');
    return FormatText(path, pathSize, "%s%c%s%s", programPath, kPathSeparator, kStubName,
                      extension != nullptr ? extension : "");
}

// The output replaces its file only once it is complete, but an input it
// replaced would be gone: the output must be none of them, under no name.
// Returns true after reporting when it is one.
static bool IsOutputAnInput(const BuilderCommand* command, const char* stubPath) {
    const char* inputs[kMaximumDisketteCount + 2] = {stubPath, command->descriptionFile};
    std::size_t inputCount = 2;
    for (std::uint32_t number = 0; number < command->imageCount && number < kMaximumDisketteCount;
         ++number) {
        inputs[inputCount++] = command->imagePaths[number];
    }
    for (std::size_t index = 0; index < inputCount; ++index) {
        if (inputs[index] == nullptr || !IsSameFile(command->outputPath, inputs[index])) continue;
        ReportMessage("The output '%s' is the same file as the input '%s'.", kMessageError, 0,
                      command->outputPath, inputs[index]);
        return true;
    }
    return false;
}

// Checks what the builder cannot, converts the description and builds.
// Returns the exit code.
static int Build(const BuilderCommand* command) {
    if (command->outputPath == nullptr) {
        ReportMessage("No output file was given (-o OUTPUT).", kMessageError, 0);
        return kExitError;
    }
    if (command->imageCount == 0) {
        ReportMessage("No image file was given.", kMessageError, 0);
        return kExitError;
    }
    if (command->descriptionText != nullptr && command->descriptionFile != nullptr) {
        ReportMessage("Only one of -t and -T can give the description.", kMessageError, 0);
        return kExitError;
    }
    char stubPath[kPathSize];
    if (command->stubPath != nullptr) {
        if (!CopyText(stubPath, std::size(stubPath), command->stubPath)) stubPath[0] = '\0';
    } else if (!FindStubBesideProgram(stubPath, std::size(stubPath))) {
        stubPath[0] = '\0';
    }
    if (IsOutputAnInput(command, stubPath)) return kExitError;
    char text[kDescriptionFileSize];
    const char* utf8 = "";
    std::size_t utf8Length = 0;
    if (command->descriptionText != nullptr) {
        utf8 = command->descriptionText;
        utf8Length = std::strlen(utf8);
    } else if (command->descriptionFile != nullptr) {
        if (!ReadDescriptionFile(command->descriptionFile, text, std::size(text), &utf8Length)) {
            return kExitError;
        }
        utf8 = text;
    }
    char description[kDescriptionSize];
    std::uint32_t descriptionLength = 0;
    if (ConvertDescription(utf8, utf8Length, description, std::size(description),
                           &descriptionLength) == 0) {
        return kExitError;
    }
    SelfDiskRequest request{};
    request.outputPath = command->outputPath;
    request.stubPath = stubPath;
    request.description = description;
    request.descriptionLength = descriptionLength;
    request.imagePaths = command->imagePaths;
    request.imageCount = command->imageCount;
    request.compact = command->compact;
    return BuildSelfDisk(&request) == 1 ? kExitSuccess : kExitError;
}

int main(int argumentCount, char** arguments) {
    StartConsoleProgram(OutputVariant::kFile);
    ShowSystemTextsInFileVariant(true);
    char programName[kPathSize];
    GetProgramName(argumentCount > 0 ? arguments[0] : "mkselfdisk", true, programName,
                   std::size(programName));
    if (argumentCount < 2) {
        PrintUsage(programName);
        return kExitHelp;
    }
    BuilderCommand command{};
    TakeArguments(argumentCount, arguments, &command);
    if (command.word == LinuxWord::kHelp) PrintUsage(programName);
    if (command.word == LinuxWord::kVersion) ConsolePrint("%s", kTitleLines);
    if (command.word != LinuxWord::kNone) return kExitSuccess;
    if (command.resultCode != kExitSuccess) return command.resultCode;
    return Build(&command);
}
