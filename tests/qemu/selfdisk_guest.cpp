// selfdisk_guest.cpp - the self-creating diskette (a static selfdisk that
// carries two different diskettes, made by mkselfdisk on the host) against
// the kernel's floppy driver in the qemu guest, run with /S as a user runs it.
// Diskette 1 is taken at once; diskette 2 only once the host has swapped the
// diskette in A:, which it does when the waiting notice for it shows: a
// second later it takes diskette 1 out, and a second after that puts
// diskette 2 in. The host then checks each drive image for its own diskette.
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

}  // namespace

// "selfdisk A: /S" onto a fresh diskette in A:; the host swaps the diskette
// once the notice for diskette 2 shows.
void RunSelfDiskChecks() {
    const char* name = "selfdisk-two-diskettes";
    if (!ChangeToFreshDiskette("change-a-self", "A:", name)) return;
    TerminalRun run;
    run.arguments = {kSelfDisk, "A:", "/S"};
    run.stepAfter = kWaitingForSecond;
    run.stepName = "swap-a-self";
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
