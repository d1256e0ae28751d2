// diskette_program.h - what the two diskette programs (the diskette writer and
// the self-creating diskette) do alike around their main routines: the
// banner, examining an argument, the Linux words --help and --version, asking
// for a diskette or waiting for one, and reading and writing one image.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/image_record.h"

// Prints the banner through console print: titleLines (the program's title
// and version lines, each with its own CR LF) in light cyan, then the help
// hint "Enter '<programName> /?' to show help " in yellow, then normal colour.
void PrintProgramBanner(const char* titleLines, const char* programName);

// Prints only the title lines, in light cyan, as --version shows them.
void PrintProgramTitle(const char* titleLines);

enum class LinuxWord : std::uint8_t {
    kNone = 0,
    kHelp = 1,        // "--help": banner and usage text, exit code 0
    kVersion = 2,     // "--version": the title lines, exit code 0
};

// The first argument after the program's own (arguments[0]) that is exactly
// "--help" or "--version"; these count only as whole words, as typed.
[[nodiscard]] LinuxWord FindLinuxWord(int argumentCount, char** arguments);

// Copies argument into upper (upperSize bytes, NUL included) and upper-cases
// the letters a to z there; options and drive names are examined in this
// copy. An argument that does not fit (more than upperSize - 1 characters)
// is refused: returns false after reporting "Parameter too long ...".
[[nodiscard]] bool CopyArgumentUpperCased(const char* argument, char* upper,
                                          std::size_t upperSize);

// True when argument is an option: it begins with "-", or with "/". Where a
// program also takes a file name (takesPaths), only "/" followed by exactly
// one character is an option, since a longer argument that begins with "/"
// is an absolute path.
[[nodiscard]] bool IsOption(const char* argument, bool takesPaths);

// True when argument names a drive: exactly two characters, the second ":".
[[nodiscard]] bool IsDriveName(const char* argument);

// How the program asks for its diskette.
enum class PromptForm : std::uint8_t {
    kWriter = 0,      // one diskette: ENTER or ESC
    kSelfDisk = 1,    // diskette number image->disketteNumber: ENTER, S (or s) or ESC
};

enum class DisketteAnswer : std::uint8_t {
    kCancelled = 0,   // ESC at the prompt or while waiting; "Process canceled." reported
    kReady = 1,       // ENTER, or a diskette has arrived
    kSkipped = 2,     // S at the self-creating diskette's prompt; the notice reported
};

// With image->prompt set, shows the prompt for image->driveName and takes
// keys with the key wait until one it accepts comes (other keys are
// ignored); otherwise shows the waiting notice and waits with
// WaitForDiskette(acceptPresent, ESC). Reports a cancellation and a skip.
[[nodiscard]] DisketteAnswer GetDiskette(const ImageRecord* image, PromptForm form,
                                         bool acceptPresent);

// Reads the next image with ReadImage (progress on the bar) and, when write
// is set, completes its used-track map and writes it with WriteDiskette,
// every track side with writeAll, else only the used ones; then frees the
// image. Returns the exit code: 0, or 3 when the read or the write failed
// (reported there).
[[nodiscard]] int ReadAndWriteDiskette(ImageRecord* image, bool write, bool writeAll);
