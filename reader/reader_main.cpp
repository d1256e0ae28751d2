// reader_main.cpp - the diskette reader: reads the diskette in a drive into
// an image file, or compares it with one; a name with a run of '#' reads a
// series of diskettes into numbered image files. Command line: image file
// name, drive name and options in any order; exit code 0 read whole (or
// identical), 1 usage text shown, 2 an image made with unreadable sectors (or
// differences found), 3 any error, or a cancellation during a read.
#include <cstring>
#include <iterator>

#include "console/console.h"
#include "console/message.h"
#include "console/program.h"
#include "console/text.h"
#include "diskette/diskette_program.h"
#include "diskette/read_pipeline.h"
#include "image/image_file.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "image/output_file.h"
#include "image/used_track_map.h"

static constexpr std::uint32_t kDefaultRetryCount = 3;
// The widest run of '#' a series name may have: its numbers fit 32 bits.
static constexpr std::size_t kLargestSeriesWidth = 9;
static constexpr char kSeriesMark = '#';

// What the command line asks for, beside the fields it sets in the image
// record (drive name, image file name, prompt, retry count).
struct ReaderOptions {
    bool usedOnly;                         // /U: only the track sides that hold data
    bool native;                           // /N: the native format, with a CRC-32
    bool replace;                          // /O: an existing image may be replaced
    bool compare;                          // /C: compare with the image, write nothing
    int resultCode;                        // 0, kExitHelp after /?, kExitError; the last set wins
};

static constexpr char kTitleLines[] =
    "dskread, the diskette reader of the diskette image tools\r\n"
    "Version 1.0\r\n";

static void PrintUsage(const char* programName) {
    ConsolePrint("\x1b\x0F"
                 "Usage:\t%s Image [Drive] [Options]\r\n"
                 "Image:\tName of the image file to make (### in it: one per diskette)\r\n"
                 "Drive:\tdrive letter of the source diskette drive (default is A:)\r\n"
                 "Options:/?\tShow this help\r\n"
                 "\t/U\tRead only the used tracks\r\n"
                 "\t/N\tnative format with CRC-32\r\n"
                 "\t/O\toverwrite an existing image\r\n"
                 "\t/R:n\tretries of a failed read (default 3)\r\n"
                 "\t/C\tcompare with the image, write nothing\r\n"
                 "\t/S\tSuppress prompt\r\n"
                 "Example:\t%s BOX1-###.IMG B: /N\r\n\n"
                 "%s"
                 "\x1b\x07",
                 programName, programName, kReaderInformation);
}

// True when an argument that begins with "/" or "-" and is longer than one
// character after it is an option all the same: a letter and a colon (/R:n).
static bool IsValueOption(const char* upper) {
    return (upper[0] == '/' || upper[0] == '-') && upper[1] >= 'A' && upper[1] <= 'Z' &&
           upper[2] == ':';
}

// Takes one option, by its name after the "/" or "-" (upper-cased).
static void TakeOption(const char* upper, ImageRecord* image, ReaderOptions* options,
                       const char* programName) {
    const char* name = upper + 1;
    if (std::strcmp(name, "?") == 0) {
        PrintUsage(programName);
        options->resultCode = kExitHelp;
    } else if (std::strcmp(name, "U") == 0) {
        options->usedOnly = true;
    } else if (std::strcmp(name, "N") == 0) {
        options->native = true;
    } else if (std::strcmp(name, "O") == 0) {
        options->replace = true;
    } else if (std::strcmp(name, "C") == 0) {
        options->compare = true;
    } else if (std::strcmp(name, "S") == 0) {
        image->prompt = false;
    } else if (std::strncmp(name, "R:", 2) == 0) {
        const std::int32_t retries = ReadNumberLikeAtoi(name + 2);
        if (retries < 0) {
            ReportMessage("The number of retries in '%s' is below 0.", kMessageError, 0, upper);
            options->resultCode = kExitError;
        } else {
            image->retryCount = static_cast<std::uint32_t>(retries);
        }
    } else {
        ReportMessage("Unknown parameter '%s'.", kMessageError, 0, upper);
        options->resultCode = kExitError;
    }
}

// Takes one argument, as the diskette writer does: options and drive names
// upper-cased, in a copy; the image file name as typed where file names keep
// their case. An argument longer than a name field is refused.
static void TakeArgument(const char* argument, ImageRecord* image, ReaderOptions* options,
                         const char* programName) {
    char upper[kPathSize];
    if (!CopyArgumentUpperCased(argument, upper, std::size(upper))) {
        options->resultCode = kExitError;
        return;
    }
    if (IsOption(upper, true) || IsValueOption(upper)) {
        TakeOption(upper, image, options, programName);
    } else if (IsDriveName(upper)) {
        (void)CopyText(image->driveName, std::size(image->driveName), upper);
    } else {
        (void)CopyText(image->imageFileName, std::size(image->imageFileName),
                       kFileNamesKeepCase ? argument : upper);
    }
}

// Finds the run of '#' that makes name a series: the last one in its last
// component. Returns true with *runStart and *runLength (0 when there is
// none), or false after reporting a run too wide.
static bool FindSeriesRun(const char* name, std::size_t* runStart, std::size_t* runLength) {
    *runLength = 0;
    std::size_t componentStart = 0;
    for (std::size_t i = 0; name[i] != '\0'; ++i) {
        if (name[i] == kPathSeparator || name[i] == '/') componentStart = i + 1;
    }
    const char* last = std::strrchr(name + componentStart, kSeriesMark);
    if (last == nullptr) return true;
    std::size_t end = static_cast<std::size_t>(last - name) + 1;
    std::size_t start = end - 1;
    while (start > componentStart && name[start - 1] == kSeriesMark) --start;
    if (end - start > kLargestSeriesWidth) {
        ReportMessage("The run of '#' in '%s' is longer than %u characters.", kMessageError, 0,
                      name, static_cast<unsigned>(kLargestSeriesWidth));
        return false;
    }
    *runStart = start;
    *runLength = end - start;
    return true;
}

// Reports and returns false when path, or its map's name, is taken and
// replace is not set (an existing file is replaced only on request), or
// when no file can be made beside path: found out before the diskette is
// read, not after.
static bool IsOutputFree(const char* path, bool replace) {
    char mapPath[kMapPathSize];
    (void)FormatText(mapPath, std::size(mapPath), "%s%s", path, kBadSectorMapSuffix);
    const char* taken = IsNameTaken(path) ? path : IsNameTaken(mapPath) ? mapPath : nullptr;
    if (!replace && taken != nullptr) {
        ReportMessage("'%s' exists already; /O replaces it.", kMessageError, 0, taken);
        return false;
    }
    char temporaryPath[kMapPathSize + 8];
    int fileHandle = -1;
    const std::uint32_t code =
        CreateFileBeside(path, temporaryPath, std::size(temporaryPath), &fileHandle);
    if (code != 0) {
        ReportMessage("'%s' could not be created.", kMessageError, code, path);
        return false;
    }
    CloseOutputFile(fileHandle, temporaryPath);
    return true;
}

// Writes into name (nameSize bytes) the series' name for the first number
// from *number on whose image and map names are both free, and sets
// *number. Returns false when every number of the run's width is taken.
static bool FindFreeName(const char* pattern, std::size_t runStart, std::size_t runLength,
                         std::uint32_t* number, char* name, std::size_t nameSize) {
    std::uint32_t limit = 1;
    for (std::size_t digit = 0; digit < runLength; ++digit) limit *= 10;
    for (; *number < limit; ++*number) {
        char digits[kLargestSeriesWidth + 1];
        (void)FormatText(digits, std::size(digits), "%0*u", static_cast<int>(runLength),
                         static_cast<unsigned>(*number));
        std::size_t length = 0;
        name[0] = '\0';
        char head[kPathSize];
        (void)FormatText(head, std::size(head), "%.*s", static_cast<int>(runStart), pattern);
        (void)AppendToField(name, nameSize, &length, head);
        (void)AppendToField(name, nameSize, &length, digits);
        (void)AppendToField(name, nameSize, &length, pattern + runStart + runLength);
        char mapPath[kMapPathSize];
        (void)FormatText(mapPath, std::size(mapPath), "%s%s", name, kBadSectorMapSuffix);
        if (!IsNameTaken(name) && !IsNameTaken(mapPath)) return true;
    }
    return false;
}

// Reads the diskette in the drive into path (or compares it with compared)
// and gives the exit code of that diskette.
static int ReadOneDiskette(ImageRecord* image, const ReaderOptions* options, const char* path,
                           const ImageRecord* compared) {
    ReadRequest request{};
    request.imagePath = path;
    request.usedOnly = options->usedOnly;
    request.native = options->native;
    request.replace = options->replace;
    request.compared = compared;
    ReadSummary summary{};
    const int result = ReadDiskette(image, &request, &summary);
    FreeImage(image);
    if (result == 0) return kExitError;
    const bool incomplete = compared != nullptr
                                ? summary.differingCount > 0 || summary.layoutsDiffer
                                : summary.unreadableCount > 0;
    return incomplete ? kExitIncomplete : kExitSuccess;
}

// The exit code of an answer at the prompt that ends the run, or -1 when a
// diskette is ready.
static int AnswerCode(DisketteAnswer answer, int cancelCode) {
    if (answer == DisketteAnswer::kReady) return -1;
    return answer == DisketteAnswer::kEndOfInput ? kExitError : cancelCode;
}

// One diskette into the image file, or compared with it.
static int ReadSingle(ImageRecord* image, const ReaderOptions* options) {
    ImageRecord compared{};
    compared.fileHandle = -1;
    if (options->compare) {
        (void)CopyText(compared.imageFileName, std::size(compared.imageFileName),
                       image->imageFileName);
        compared.fileHandle = OpenImageFile(image->imageFileName);
        if (compared.fileHandle < 0) {
            ReportMessage("Image data of '%s' could not be accessed.", kMessageError, 0,
                          image->imageFileName);
            return kExitError;
        }
        const int read = ReadImage(&compared, nullptr);
        CloseImageFile(compared.fileHandle);
        if (read == 0) {
            FreeImage(&compared);
            return kExitError;
        }
        CompleteUsedTrackMap(&compared);
    } else if (!IsOutputFree(image->imageFileName, options->replace)) {
        return kExitError;
    }
    int resultCode = AnswerCode(GetDiskette(image, PromptForm::kWriter, true), kExitSuccess);
    if (resultCode < 0) {
        resultCode = ReadOneDiskette(image, options, image->imageFileName,
                                     options->compare ? &compared : nullptr);
    }
    FreeImage(&compared);
    return resultCode;
}

// Diskette after diskette into the numbered names of the series, until ESC
// at the prompt: 0 when every one was read whole, 2 when any had unreadable
// sectors; an error ends the series with 3. With /S each next diskette is
// taken once the drive has been seen without the one before.
static int ReadSeries(ImageRecord* image, const ReaderOptions* options, std::size_t runStart,
                      std::size_t runLength) {
    char pattern[kPathSize];
    (void)CopyText(pattern, std::size(pattern), image->imageFileName);
    int seriesCode = kExitSuccess;
    bool acceptPresent = true;
    for (std::uint32_t number = 1;; ++number) {
        if (!FindFreeName(pattern, runStart, runLength, &number, image->imageFileName,
                          std::size(image->imageFileName))) {
            ReportMessage("Every number of '%s' is taken.", kMessageError, 0, pattern);
            return kExitError;
        }
        image->disketteNumber = number;
        const int answerCode =
            AnswerCode(GetDiskette(image, PromptForm::kNumbered, acceptPresent), seriesCode);
        if (answerCode >= 0) return answerCode;
        if (!image->prompt) acceptPresent = false;
        const int resultCode = ReadOneDiskette(image, options, image->imageFileName, nullptr);
        if (resultCode == kExitError) return kExitError;
        if (resultCode == kExitIncomplete) seriesCode = kExitIncomplete;
    }
}

int main(int argumentCount, char** arguments) {
    char programName[kPathSize];
    StartDisketteProgram(InfoLineWording::kWriter);
    GetProgramName(argumentCount > 0 ? arguments[0] : "dskread", false, programName,
                   std::size(programName));

    if (AnswerLinuxWord(argumentCount, arguments, kTitleLines, programName, PrintUsage)) {
        return kExitSuccess;
    }

    PrintProgramBanner(kTitleLines, programName);
    ImageRecord image{};
    PrepareRunRecord(&image);
    image.retryCount = kDefaultRetryCount;
    image.disketteCount = 1;
    image.disketteNumber = 1;
    ReaderOptions options{};
    for (int position = 1; position < argumentCount; ++position) {
        TakeArgument(arguments[position], &image, &options, programName);
    }
    // Nothing is opened before the whole command line has been checked.
    if (options.resultCode == kExitSuccess && image.imageFileName[0] == '\0') {
        ReportMessage("Name of image file is missing.", kMessageError, 0);
        options.resultCode = kExitError;
    }
    std::size_t runStart = 0;
    std::size_t runLength = 0;
    // A compared image is named as it is, '#' and all.
    if (options.resultCode == kExitSuccess && !options.compare &&
        !FindSeriesRun(image.imageFileName, &runStart, &runLength)) {
        options.resultCode = kExitError;
    }
    options.resultCode = CheckDisketteDrive(&image, options.resultCode);
    if (options.resultCode != kExitSuccess) return options.resultCode;

    if (runLength > 0) return ReadSeries(&image, &options, runStart, runLength);
    return ReadSingle(&image, &options);
}
