// guest.h - what the qemu guest's checks share: the result lines the host
// reads on the serial console, and programs run on a pseudo-terminal of the
// guest's own, so that they show what a user at a terminal sees.
#pragma once
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "console/console.h"

// Prints "CHECK name ok|FAIL detail"; a FAIL is counted.
void Check(const char* name, bool passed, const char* format, ...) PRINTF_LIKE(3, 4);
// Prints "STEP name": the host changes a diskette or acts on a drive.
void Step(const char* name);
// Prints a line for the log as it is.
void Note(const char* format, ...) PRINTF_LIKE(1, 2);
int FailureCount();
void Sleep(int milliseconds);
// Seconds on the monotonic clock.
double Now();

struct TerminalRun {
    std::vector<std::string> arguments;    // arguments[0] is the program's path
    std::string typed;                     // typed once the output holds typeAfter
    std::string typeAfter;
    std::string stepAfter;                 // "STEP stepName" once the output holds stepAfter
    std::string stepName;
    double limitSeconds = 30;              // the child is left running after this
};

struct TerminalResult {
    bool ended = false;                    // false: still running when the limit came
    int exitCode = -1;                     // exit status, -1 after a signal
    pid_t pid = -1;
    double seconds = 0;                    // from the start to the end (or the limit)
    std::string output;                    // every byte the program wrote
};

// Runs a program with standard input and output on a new pseudo-terminal.
// Text typed before the program waits for a key is thrown away by it, so the
// text is typed again while nothing new is shown, up to five times.
TerminalResult RunOnTerminal(const TerminalRun& run);

// Prints the output for the log, "| " before each line: colour sequences
// taken out, of each redrawn line its last form, other bytes above 0x7E as '#'.
void LogOutput(const char* name, const std::string& output);

// RunOnTerminal, then LogOutput under name. A program still running at the
// limit is killed, unless it is to be looked at (killAtLimit false).
TerminalResult RunAndLog(const char* name, const TerminalRun& run, bool killAtLimit = true);

// Runs a program with input (a few bytes) in a pipe on standard input and
// its output thrown away; returns its exit code (-1 after a signal),
// *seconds its time. The input is in the pipe before the program starts.
int RunQuietly(const std::vector<std::string>& arguments, const std::string& input,
               double* seconds);

// A fresh drive image, as the host puts it into a drive, holds only this byte.
constexpr std::uint8_t kMarkerByte = 0x5A;

// Waits, for at most 30 s, until the diskette the host put into the drive is
// the one seen: its first sector holds only the byte given (the marker of a
// fresh drive image; 0 where qemu hands out zeros for sectors it cannot read).
bool WaitForFreshDiskette(const char* driveName, std::uint8_t byte = kMarkerByte);

// Asks the host (STEP step) for a fresh drive image in the drive and waits
// until it is seen; when it is not, the check name fails.
bool ChangeToFreshDiskette(const char* step, const char* driveName, const char* name);

bool Contains(const std::string& text, const std::string& part);

// The median of three times.
double Median(double a, double b, double c);

// For a program on the floppy drive that did not end within limitSeconds
// after the host took the diskette out in the middle of a request. The 6.1
// floppy driver can hang for good then: the program sleeps uninterruptibly
// (state D) and no signal ends it. That is the kernel's fault: the guest
// says so (DEADLOCK, its result so far) and asks the host (STEP
// eject-deadlock) to stop the machine and boot again for the eject checks,
// and never returns. Otherwise the program is killed and the check name
// fails.
void StopAfterDriverHang(const char* name, const TerminalResult& result, double limitSeconds);

// The diskette writer in the guest (writer_guest.cpp).
void RunWriterProtectedChecks();   // B: holds a write-protected diskette
void RunWriterChecks();            // A:, then C:; after the media change checks
void RunEjectDuringWrite();        // last: may leave the floppy driver hung
// Layouts beyond 1.44 MB on the floppy driver: a DMF diskette in A:, a 2.88
// MB one in the 2.88 MB drive B:, each prepared (the driver's layout checked)
// and written with /F /V; the DMF one then put in again and its geometry
// asked, which the driver alone takes for 1.44 MB.
void RunLayoutChecks();
void RunWriterBench();

// The diskette reader in the guest (reader_guest.cpp).
// A sector whose every read qemu fails on the USB disk E:, which holds the
// host's diskette files.img. qemu is given error as the errno of its own
// failed read and answers ENODATA with a SCSI medium error, which the guest's
// kernel reports as ENODATA again, and EIO with an aborted command, which it
// reports as EIO.
struct BadSector {
    std::uint32_t lba;                     // 512-byte sectors from the diskette's start
    int error;                             // ENODATA or EIO
};
// Two in track side 40 (sectors 720-737), its second and its last, as a drive
// that cannot read them reports them; one in track side 81 (1458-1475) that
// fails otherwise.
inline constexpr BadSector kBadSectors[] = {{721, ENODATA}, {737, ENODATA}, {1465, EIO}};
// A: holds the host's 1.44 MB diskette, image (the whole diskette).
void RunFloppyReadCheck(const std::uint8_t* image);
void RunBadSectorChecks();
void RunEjectDuringRead();         // last but one: may leave the floppy driver hung
void RunReaderBench();

// The self-creating diskette in the guest (selfdisk_guest.cpp): two
// diskettes onto A:, swapped by the host while it waits.
void RunSelfDiskChecks();
