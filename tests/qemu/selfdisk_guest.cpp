// selfdisk_guest.cpp - the self-creating diskette (a static selfdisk that
// carries two different diskettes, made by mkselfdisk on the host) against
// the kernel's floppy driver in the qemu guest, run with /S as a user runs it.
// Diskette 1 is taken at once; diskette 2 only once the host has swapped the
// diskette in A:, which it does when the waiting notice for it shows. The
// host then checks each drive image for its own diskette.
#include <string>

#include "tests/qemu/guest.h"

namespace {

const char kSelfDisk[] = "/bin/selfdisk";
const std::string kWritten = "Diskette successfully created";
const std::string kBoxCount = "[ 2 diskette(s) included]";
const std::string kWaitingForFirst = "WAITING for diskette #1 in 'A:'...  ESC=Cancel\r";
const std::string kWaitingForSecond = "WAITING for diskette #2 in 'A:'...  ESC=Cancel\r";

// Where part is in text from the position from on, or npos.
std::size_t FindFrom(const std::string& text, const std::string& part, std::size_t from) {
    return from == std::string::npos ? std::string::npos : text.find(part, from);
}

// One run of "selfdisk A: /S" onto a fresh diskette in A:; the host swaps the
// diskette by swapStep once the notice for diskette 2 shows.
void RunTwoDiskettes(const char* name, const char* freshStep, const char* swapStep) {
    if (!ChangeToFreshDiskette(freshStep, "A:", name)) return;
    TerminalRun run;
    run.arguments = {kSelfDisk, "A:", "/S"};
    run.stepAfter = kWaitingForSecond;
    run.stepName = swapStep;
    run.limitSeconds = 20;
    const TerminalResult result = RunAndLog(name, run);
    // The box, the notice for diskette 1, its write, the notice for
    // diskette 2, its write, in that order, and nothing written after.
    const std::string& output = result.output;
    const std::size_t box = output.find(kBoxCount);
    const std::size_t first = FindFrom(output, kWaitingForFirst, box);
    const std::size_t firstWritten = FindFrom(output, kWritten, first);
    const std::size_t second = FindFrom(output, kWaitingForSecond, firstWritten);
    const std::size_t secondWritten = FindFrom(output, kWritten, second);
    const bool inOrder = secondWritten != std::string::npos &&
                         FindFrom(output, kWritten, secondWritten + 1) == std::string::npos;
    Check(name, result.ended && result.exitCode == 0 && inOrder,
          "exit %d after %.1f s; box %s, diskette 1 %s, diskette 2 %s", result.exitCode,
          result.seconds, box != std::string::npos ? "shown" : "missing",
          firstWritten != std::string::npos ? "written" : "not written",
          !inOrder ? "not written (once, after its notice)" : "written");
}

}  // namespace

void RunSelfDiskChecks() {
    // The host takes diskette 1 out, leaves the drive empty for a second and
    // puts diskette 2 in.
    RunTwoDiskettes("selfdisk-eject-insert", "change-a-self-eject", "swap-a-self-eject");
    // The host changes the diskette at once, after two polls of the wait:
    // the drive never looks empty, only the driver's count of changes moves.
    RunTwoDiskettes("selfdisk-atomic-change", "change-a-self-atomic", "swap-a-self-atomic");
}
