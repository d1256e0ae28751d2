// diskette_program.h - what the diskette programs (the diskette writer, the
// diskette reader and the self-creating diskette) do alike around their main
// routines: the banner, examining an argument, the Linux words --help and
// --version, asking for a diskette or waiting for one, and reading and
// writing one image.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/image_format.h"
#include "image/image_record.h"

// Sets a diskette program up at the start of main: the console output (the
// console variant: standard output only when it is a terminal), the wording
// of the info line, single-key input. The name its banner and usage text show is
// the main routine's to take (GetProgramName).
void StartDisketteProgram(InfoLineWording wording);

// Prints the banner through console print: titleLines (the program's title
// and version lines, each with its own CR LF) in light cyan, then the help
// hint "Enter '<programName> /?' to show help " in yellow, then normal colour.
void PrintProgramBanner(const char* titleLines, const char* programName);

// Prints only the title lines, in light cyan, as --version shows them.
void PrintProgramTitle(const char* titleLines);

// Prints a program's usage text, with its name.
using UsagePrinter = void (*)(const char* programName);

// Answers the Linux words, where the platform has them (kAnswersLinuxWords),
// which count only as whole arguments, as typed:
// when an argument after the program's own (arguments[0]) is "--help" or
// "--version", prints the banner and the usage text (printUsage), or the
// title lines only, for the first of them, to standard output whatever it is
// (colour pairs dropped where it is no terminal), and returns true: the
// program then ends with exit code 0. Returns false otherwise, printing
// nothing.
[[nodiscard]] bool AnswerLinuxWord(int argumentCount, char** arguments, const char* titleLines,
                                   const char* programName, UsagePrinter printUsage);

// Clears the record for a run: no file open, drive "A:", asking for each
// diskette, no retries.
void PrepareRunRecord(ImageRecord* image);

// Copies argument into upper (upperSize bytes, NUL included) and upper-cases
// it there (UpperCaseArgument: the letters a to z, on Windows every letter of
// the ANSI code page); options and drive names are examined in this copy.
// An argument that does not fit (more than upperSize - 1 characters)
// is refused: returns false after reporting "Parameter too long ...".
[[nodiscard]] bool CopyArgumentUpperCased(const char* argument, char* upper,
                                          std::size_t upperSize);

// True when argument is an option: it begins with "-", or with "/". Where a
// program also takes a file name (takesPaths) on a platform where "/" begins
// absolute paths (kSlashBeginsPaths), only "/" followed by exactly one
// character is an option there.
[[nodiscard]] bool IsOption(const char* argument, bool takesPaths);

// Reports "'<drive>' is not a diskette drive." and returns kExitError when
// resultCode is still 0 and image->driveName is no diskette drive; returns
// resultCode otherwise, without examining the drive.
[[nodiscard]] int CheckDisketteDrive(const ImageRecord* image, int resultCode);

// Opens the file openPath for the image reader, with ESC between tracks
// cancelling a read: image->imageFileName itself, or another path of the
// same file that the name field need not hold (the name field then only
// names the file in messages). Returns true, or false after reporting
// "Image data of '<image->imageFileName>' could not be accessed.",
// or, unless image->listOnly is set, when image->driveName names this very
// file, after reporting "'<drive>' is the image file itself; it cannot be
// written onto." (the file is closed again then).
[[nodiscard]] bool OpenRunFile(ImageRecord* image, const char* openPath);

// Takes the options both programs know, by the name after the "/" or "-"
// (upper-cased): F format each track side, V verify, S wait for the diskette
// instead of asking, A write all track sides (*writeAll). Returns false for
// any other name, changing nothing.
[[nodiscard]] bool TakeWritingOption(const char* name, ImageRecord* image, bool* writeAll);

// The number at the start of text as the C library's atoi reads it: leading
// blanks, an optional sign, then decimal digits up to the first other
// character; no digits give 0. A value beyond the 32-bit range stops at its
// end (INT32_MIN or INT32_MAX) instead of overflowing. Read so in an
// option's value (/N:n, /R:n).
[[nodiscard]] std::int32_t ReadNumberLikeAtoi(const char* text);

// True when argument names a drive: exactly two characters, the second ":".
[[nodiscard]] bool IsDriveName(const char* argument);

// The last lines of the usage texts' information blocks, each line ended by
// CR LF: what the diskette writer and the diskette reader do and what their
// drive names stand for; and what the self-creating diskette does, the words
// that follow its program name. They name the platform's devices; defined in
// diskette_program_<platform>.cpp.
extern const char kWriterInformation[];
extern const char kReaderInformation[];
extern const char kSelfDiskInformation[];

// The path by which the self-creating diskette opens its own file, where the
// platform has one that names the running program's file itself: on Linux
// "/proc/self/exe", which still opens the file that was started after it was
// replaced or removed (its resolved path then ends in " (deleted)", and
// names nothing or another file). Empty on Windows, where the module path is
// opened.
extern const char kOwnProgramFile[];

// How the program asks for its diskette.
enum class PromptForm : std::uint8_t {
    kWriter = 0,      // one diskette: ENTER or ESC
    kSelfDisk = 1,    // diskette number image->disketteNumber: ENTER, S (or s) or ESC
    kNumbered = 2,    // diskette number image->disketteNumber of a series: ENTER or ESC
};

enum class DisketteAnswer : std::uint8_t {
    kCancelled = 0,    // ESC at the prompt or while waiting; "Process canceled." reported
    kReady = 1,        // ENTER, or a diskette has arrived
    kSkipped = 2,      // S at the self-creating diskette's prompt; the notice reported
    kEndOfInput = 3,   // no key will ever answer the prompt; "Process canceled." reported
};

// With image->prompt set, shows the prompt for image->driveName and takes
// keys with the key wait until one it accepts comes (other keys are
// ignored) or none can come; otherwise shows the waiting notice and waits
// with WaitForDiskette(acceptPresent, ESC). Reports a cancellation, the end
// of input and a skip. The end of input is an error for the caller (exit
// code 3): unlike ESC, nobody chose to cancel, and a script must not take
// the run for a success.
[[nodiscard]] DisketteAnswer GetDiskette(const ImageRecord* image, PromptForm form,
                                         bool acceptPresent);

// Reads the next image with ReadImage (progress on the bar) and, when write
// is set, completes its used-track map and writes it with WriteDiskette,
// every track side with writeAll, else only the used ones; then frees the
// image. Returns the exit code: 0, or 3 when the read or the write failed
// (reported there).
[[nodiscard]] int ReadAndWriteDiskette(ImageRecord* image, bool write, bool writeAll);
