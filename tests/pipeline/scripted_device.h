// scripted_device.h - a diskette drive in memory for the write pipeline's
// tests. It takes the place of the platform's device layer at link time
// (everything diskette/device.h and diskette/device_platform.h declare but
// SelectMediaType and WaitForDiskette), records every call in one log
// together with every message reported, and fails the steps the test names
// with the codes it chooses.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "diskette/device.h"

// The operations a test can make fail.
enum class DriveStep {
    kOpen,
    kGeometry,
    kLock,
    kUnlock,
    kPrepare,
    kFormat,
    kWrite,
    kRead,             // ReadTrack fails with the code
    kReadDiffers,      // ReadTrack succeeds but hands back bytes that differ
    kReadFirstSector,
    kFlush,
    kDismount,
    kReadSector,       // ReadSector fails with the code (on the given sector, from 0)
    kSetLayout,
    kCheckUnchanged,   // CheckDisketteUnchanged answers the code
};

inline constexpr std::int64_t kAnyTrack = -1;
inline constexpr int kAlways = -1;

// One failing step: the calls of step (on the given track side, for the
// track side operations) fail with code, times times and then succeed, or
// always. Failures are tried in the order given; the first that matches and
// has failures left decides the call.
struct DriveFailure {
    DriveStep step;
    std::uint32_t code;
    std::int64_t track = kAnyTrack;
    std::int64_t side = kAnyTrack;
    int times = kAlways;
    std::int64_t sector = kAnyTrack;   // kReadSector: the sector within the track side, from 0
};

// A key the user presses while a track side is being written: pushed into
// the key queue when WriteTrack is called for that track side.
struct KeyDuringWrite {
    std::uint32_t track;
    std::uint32_t side;
    int key;
};

struct DriveScript {
    DriveGeometry geometry{2, 80, 18, 512};   // what QueryDriveGeometry reports
    std::vector<DriveFailure> failures;
    std::vector<KeyDuringWrite> keys;
    std::vector<KeyDuringWrite> keysDuringRead;   // pushed when ReadTrack is called for the side
    // What the diskette holds from the start, by device index track x 2 + side.
    std::map<std::uint32_t, std::vector<std::uint8_t>> contents;
    // The keys the user types at each prompt (a message with the flags
    // 0x8FFFF), in order: pushed into the key queue when the prompt is shown,
    // so that no key poll before it takes them.
    std::vector<std::vector<int>> keysAtPrompts;
};

// One logged call: a device operation or a reported message.
struct DriveCall {
    std::string name;                   // "open", "geometry", ..., "message"
    std::uint32_t track = 0;            // a pause: its milliseconds
    std::uint32_t side = 0;
    std::uint32_t code = 0;             // the result handed back; a message's system error code
    std::uint32_t sectorsPerTrack = 0;  // format, write, read, read sector
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sector = 0;           // read sector: the sector, from 0
    std::uint8_t deviceType = 0;        // format
    std::uint8_t mediaDescriptor = 0;
    std::uint32_t flags = 0;            // message flags
    std::string text;                   // the message as formatted, or the drive name of an open
};

// Starts a test: the script in force, an empty log, the diskette the
// script's contents give (a blank one: no track side written), no open
// handle, no pause counted.
void ResetDrive(const DriveScript& script);

// Everything called since ResetDrive, in order.
const std::vector<DriveCall>& DriveCalls();

// The log as lines: "open A:", "open for reading A:", "geometry", "lock",
// "prepare", "format 3/1", "write 3/1", "read 3/1", "read sector 3/1/6"
// (the sector from 0), "set layout 80/2/21" (cylinders, heads, sectors),
// "check unchanged", "first sector", "flush", "dismount", "unlock", "close",
// "pause 500", "message 0x10000 21 Write error on track no. 4, side 1.";
// a failed call ends in " = code".
std::vector<std::string> DriveLogLines();

// The lines of the calls with the given name only, e.g. every "write".
std::vector<std::string> DriveLogLines(const std::string& name);

// The diskette's track sides written or formatted so far, by device index
// track x 2 + side (the device is always addressed as two-sided).
const std::map<std::uint32_t, std::vector<std::uint8_t>>& DriveContents();

// Handles opened and not yet closed.
int OpenHandleCount();

// After this many pauses the drive pushes ESC into the key queue, so that a
// wait that never ends on its own still ends.
inline constexpr int kPauseLimit = 50;
