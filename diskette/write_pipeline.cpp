// write_pipeline.cpp - one diskette image from memory onto the diskette in a
// drive, and the progress bar that the image reader and the writing drive.
#include "diskette/write_pipeline.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "console/keys.h"
#include "console/message.h"
#include "diskette/device.h"
#include "image/device_parameter_block.h"
#include "image/image_reader.h"
#include "image/used_track_map.h"

// ---------------------------------------------------------------------------
// Progress display

static constexpr std::size_t kBarCellCount = 25;          // each cell stands for 4 per cent
static constexpr std::size_t kBarSize = kBarCellCount + 1;  // bytes, NUL included
static constexpr std::uint32_t kPercentPerCell = 4;

// Code page 437 bytes of the bar: an open cell, a cell finished while the
// image was read, a cell finished while it was written.
static constexpr char kOpenCell = '\xFE';
static constexpr char kLightShade = '\xB0';
static constexpr char kFullBlock = '\xDB';

// The header puts "Action" in column 29: after the 25 bar columns and 4
// blanks, where the bar line's word begins.
static constexpr char kProgressHeader[] =
    "\x1b\x0F" "0%          50%        100%  Action\r\n" "\x1b\x07";

// One progress display for the whole process, shared by the reader's events
// and the writer's.
struct ProgressState {
    char bar[kBarSize];                 // 25 cells and a NUL; empty until the first reset
    char fillCharacter;                 // what marks a finished cell
    bool headerPrinted;                 // info line and header shown since the last reset
    InfoLineWording wording;            // the info line's form in this program
};
static ProgressState progressState = {{}, kLightShade, false, InfoLineWording::kWriter};

void SetProgressWording(InfoLineWording wording) { progressState.wording = wording; }

// The word shown after the bar; nullptr for actions that print nothing. The
// word of a written diskette (or a made image) ends the line, so the
// finished bar stays.
static const char* ActionWord(ProgressAction action) {
    switch (action) {
        case ProgressAction::kDisketteWritten: return "Diskette successfully created\r\n";
        case ProgressAction::kTrackSideRead: return "Read";
        case ProgressAction::kTrackSideWritten: return "Write";
        case ProgressAction::kTrackSideVerified: return "Verify";
        case ProgressAction::kTrackSideFormatted: return "Format";
        case ProgressAction::kTrackSideUnused: return "Unused track";
        case ProgressAction::kTrackSideSaved: return "Save";
        case ProgressAction::kImageSaved: return "Image successfully created\r\n";
        case ProgressAction::kReset:
        case ProgressAction::kWritingBegins: break;
    }
    return nullptr;
}

static void ResetProgressBar() {
    std::memset(progressState.bar, kOpenCell, kBarCellCount);
    progressState.bar[0] = '[';
    progressState.bar[kBarCellCount - 1] = ']';
    progressState.bar[kBarCellCount] = '\0';
    progressState.fillCharacter = kLightShade;
    progressState.headerPrinted = false;
}

// Fills the cell of the per cent the event completes: the event counts as the
// end of its track side. 100 per cent lies past the last cell and fills none;
// by then the events before it have filled all 25.
static void FillProgressCell(std::uint32_t track, std::uint32_t side, std::uint32_t sides,
                             std::uint32_t trackCount) {
    const std::uint32_t trackSideCount = sides * trackCount;
    if (trackSideCount == 0) return;
    const std::uint32_t percent = ((track * sides + side) * 100 + 100) / trackSideCount;
    const std::uint32_t position = percent / kPercentPerCell;
    if (position < kBarCellCount) progressState.bar[position] = progressState.fillCharacter;
}

void ShowProgress(std::uint32_t track, std::uint32_t side, ProgressAction action,
                  ImageRecord* image) {
    if (image->skipDiskette) return;
    if (action == ProgressAction::kReset) {
        ResetProgressBar();
        return;
    }
    if (action == ProgressAction::kWritingBegins) {
        progressState.fillCharacter = kFullBlock;
        return;
    }
    const char* word = ActionWord(action);
    if (word == nullptr) return;

    const std::uint32_t sides = Sides(&image->parameters);
    FillProgressCell(track, side, sides, image->trackCount);
    // By the last side of track 0 the buffer holds the boot sector and the
    // root directory, so the info line can show the volume label. Listing
    // leaves the flag clear: no header and no bar follow the info line.
    if (!progressState.headerPrinted && track == 0 && side + 1 == sides) {
        PrintDisketteInfoLine(image, progressState.wording);
        if (!image->listOnly) {
            ConsoleWrite(kProgressHeader);
            progressState.headerPrinted = true;
        }
    }
    // The line ends in a lone CR, so each event redraws it in place.
    if (progressState.headerPrinted) {
        ConsolePrint("\x1b\x0F" "%-25s    %-34s\r" "\x1b\x07", progressState.bar, word);
    }
}

// ---------------------------------------------------------------------------
// Writing

// True when a device step failed (code not 0) and an attempt is left, which
// it counts off: do { code = Step(); } while (IsRetryDue(code, &retriesLeft));
static bool IsRetryDue(std::uint32_t code, std::uint32_t* retriesLeft) {
    if (code == 0 || *retriesLeft == 0) return false;
    --*retriesLeft;
    return true;
}

// Unless the diskette is formatted anyway, checks that it can take the image:
// the same sectors per track and bytes per sector, at least as many
// cylinders as the image has tracks, and at least as many sides: a one-sided
// image goes onto side 0 of each cylinder of a two-sided diskette, but a
// two-sided one has no room on a one-sided diskette (a one-sided drive file
// would take its side 1 tracks over the next cylinder's). Returns 1, or 0
// after reporting; the caller closes the device.
static int CheckDisketteFormat(DeviceHandle* device, const ImageRecord* image,
                               const DisketteGeometry* layout) {
    if (image->format) return 1;
    DriveGeometry drive{};
    std::uint32_t retriesLeft = image->retryCount;
    std::uint32_t code = 0;
    do {
        code = QueryDriveGeometry(device, &drive);
    } while (IsRetryDue(code, &retriesLeft));
    if (code != 0) {
        ReportMessage("Device parameters of the disk in '%s' could not be determined.",
                      kMessageError, code, image->driveName);
        return 0;
    }
    if (drive.sectorsPerTrack != layout->sectorsPerTrack ||
        drive.bytesPerSector != layout->bytesPerSector || image->trackCount > drive.cylinders ||
        layout->sides > drive.heads) {
        ReportMessage("Disks with such different formats can not copied!\r\n"
                      "If you still want to do that, you must select the option "
                      "'Format target disk'.",
                      kMessageRefusal, 0);
        return 0;
    }
    return 1;
}

// Locks the volume and, when the diskette is to be formatted, readies the
// drive for it. Returns 1, or 0 after reporting; the caller closes the device
// (nothing was written, so there is nothing to dismount).
static int LockAndPrepare(DeviceHandle* device, const ImageRecord* image) {
    std::uint32_t retriesLeft = image->retryCount;
    std::uint32_t code = 0;
    do {
        code = SetVolumeLock(device, true);
    } while (IsRetryDue(code, &retriesLeft));
    if (code != 0) {
        ReportMessage("'%s' could not be locked.", kMessageError, code, image->driveName);
        return 0;
    }
    if (!image->format) return 1;
    retriesLeft = image->retryCount;
    do {
        code = PrepareFormat(device, image->parameters);
    } while (IsRetryDue(code, &retriesLeft));
    if (code != 0) {
        ReportMessage("Formatting of the disk in '%s' could not be initialized.", kMessageError,
                      code, image->driveName);
        return 0;
    }
    return 1;
}

// The last track side the loop has written or formatted: a sync that fails
// after the loop is reported as its write error.
struct TrackSidePosition {
    std::uint32_t track;
    std::uint32_t side;
    bool known;                         // false: nothing written or formatted yet
};

// Formats, writes and verifies one track side, as the record's flags ask,
// and notes it in *last once it has been formatted or written. verifyBuffer
// holds one track side. Returns 1, or 0 after reporting; track numbers in
// messages count from 1, sides from 0.
static int WriteOneTrackSide(DeviceHandle* device, ImageRecord* image,
                             const DisketteGeometry* layout, std::uint32_t track,
                             std::uint32_t side, std::uint8_t* verifyBuffer,
                             TrackSidePosition* last) {
    const std::uint64_t trackSide = static_cast<std::uint64_t>(track) * layout->sides + side;
    const std::uint8_t* data = image->imageBuffer + trackSide * layout->trackSideSize;
    const unsigned trackNumber = static_cast<unsigned>(track) + 1;
    const unsigned sideNumber = static_cast<unsigned>(side);
    std::uint32_t retriesLeft = image->retryCount;
    std::uint32_t code = 0;
    if (image->format) {
        do {
            code = FormatTrack(device, side, track, layout->sectorsPerTrack,
                               layout->bytesPerSector, image->parameters.deviceType,
                               image->parameters.mediaDescriptor);
        } while (IsRetryDue(code, &retriesLeft));
        if (code != 0) {
            ReportMessage("Formatting error on track no. %u, side %u.", kMessageError, code,
                          trackNumber, sideNumber);
            return 0;
        }
        *last = TrackSidePosition{track, side, true};
        ShowProgress(track, side, ProgressAction::kTrackSideFormatted, image);
    }
    if (image->skipUnused != 0 && image->usedTrackMap[trackSide] != kTrackSideUsed) {
        // A formatted track side stays as the format left it, with nothing more shown.
        if (!image->format) ShowProgress(track, side, ProgressAction::kTrackSideUnused, image);
        return 1;
    }

    retriesLeft = image->retryCount;
    do {
        code = WriteTrack(device, data, side, track, layout->sectorsPerTrack,
                          layout->bytesPerSector);
    } while (IsRetryDue(code, &retriesLeft));
    if (code != 0) {
        ReportMessage("Write error on track no. %u, side %u.", kMessageError, code, trackNumber,
                      sideNumber);
        return 0;
    }
    *last = TrackSidePosition{track, side, true};
    ShowProgress(track, side, ProgressAction::kTrackSideWritten, image);
    if (!image->verify) return 1;

    retriesLeft = image->retryCount;
    do {
        code = ReadTrack(device, verifyBuffer, side, track, layout->sectorsPerTrack,
                         layout->bytesPerSector);
    } while (IsRetryDue(code, &retriesLeft));
    // A failed read and a difference are the same check error; only the
    // failed read has a system error to show.
    if (code != 0 ||
        std::memcmp(verifyBuffer, data, static_cast<std::size_t>(layout->trackSideSize)) != 0) {
        ReportMessage("Check error on track no. %u, side %u.", kMessageError, code, trackNumber,
                      sideNumber);
        return 0;
    }
    ShowProgress(track, side, ProgressAction::kTrackSideVerified, image);
    return 1;
}

// Every track side in order. The keyboard is polled once per track, after its
// last side, also when a step on the track failed; ESC ends the loop as a
// failure. Returns 1, or 0 after reporting.
static int WriteAllTracks(DeviceHandle* device, ImageRecord* image,
                          const DisketteGeometry* layout, std::uint8_t* verifyBuffer,
                          TrackSidePosition* last) {
    for (std::uint32_t track = 0; track < image->trackCount; ++track) {
        int written = 1;
        for (std::uint32_t side = 0; side < layout->sides && written != 0; ++side) {
            written = WriteOneTrackSide(device, image, layout, track, side, verifyBuffer, last);
        }
        if (PollKey() == kKeyEsc) {
            ReportMessage("Process canceled.", kMessageError, 0);
            return 0;
        }
        if (written == 0) return 0;
    }
    return 1;
}

// Everything after the device is open. Returns 1, or 0 after reporting.
static int WriteOpenDiskette(DeviceHandle* device, ImageRecord* image,
                             const DisketteGeometry* layout, std::uint8_t* verifyBuffer) {
    if (CheckDisketteFormat(device, image, layout) == 0) return 0;
    ShowProgress(0, 0, ProgressAction::kWritingBegins, image);
    if (LockAndPrepare(device, image) == 0) return 0;

    TrackSidePosition last{};
    int result = WriteAllTracks(device, image, layout, verifyBuffer, &last);
    // Whatever the loop left on the diskette is made to reach it. Until the
    // sync has succeeded nothing proves that the data of a drive file or a
    // USB drive is on the medium, so its failure is the write error of the
    // last track side that went out; after a failure in the loop, reported
    // there, it adds nothing.
    std::uint32_t retriesLeft = image->retryCount;
    std::uint32_t code = 0;
    do {
        code = FlushDiskette(device);
    } while (IsRetryDue(code, &retriesLeft));
    if (code != 0 && result != 0 && last.known) {
        ReportMessage("Write error on track no. %u, side %u.", kMessageError, code,
                      static_cast<unsigned>(last.track) + 1, static_cast<unsigned>(last.side));
        result = 0;
    }
    // The volume is released in any case. A failed dismount changes nothing
    // the user could act on, so it stays silent.
    retriesLeft = image->retryCount;
    do {
        code = DismountVolume(device, image->parameters);
    } while (IsRetryDue(code, &retriesLeft));
    retriesLeft = image->retryCount;
    do {
        code = SetVolumeLock(device, false);
    } while (IsRetryDue(code, &retriesLeft));
    if (code != 0) {
        ReportMessage("'%s' could not be unlocked.", kMessageError, code, image->driveName);
        result = 0;
    }
    return result;
}

int WriteDiskette(ImageRecord* image) {
    // The reader refuses images without tracks or sides and reads exactly the
    // tracks the block describes; a record that differs all the same is
    // refused here, before anything is divided by it or read past its buffer.
    DisketteGeometry layout{};
    if (!GetDisketteGeometry(&image->parameters, &layout) || image->trackCount == 0 ||
        image->trackCount > layout.trackCount || image->imageBuffer == nullptr ||
        image->usedTrackMap == nullptr) {
        ReportImageNotHandled(image);
        return 0;
    }
    // Taken before the drive is touched, so that a lack of memory leaves the
    // diskette as it was.
    std::uint8_t* verifyBuffer = nullptr;
    if (layout.trackSideSize <= SIZE_MAX) {
        verifyBuffer = static_cast<std::uint8_t*>(
            std::malloc(static_cast<std::size_t>(layout.trackSideSize)));
    }
    if (verifyBuffer == nullptr) {
        ReportMessage("Not enough memory.", kMessageError, 0);
        return 0;
    }

    // The open is the one step that is not repeated: a drive that cannot be
    // opened (empty, or held by another program) is reported at once.
    DeviceHandle* device = nullptr;
    const std::uint32_t code = OpenDiskette(image->driveName, &device);
    if (code != 0) {
        ReportMessage("'%s' could not be accessed.", kMessageError, code, image->driveName);
        std::free(verifyBuffer);
        return 0;
    }
    const int result = WriteOpenDiskette(device, image, &layout, verifyBuffer);
    CloseDiskette(device);
    if (result != 0) ShowProgress(0, 0, ProgressAction::kDisketteWritten, image);
    std::free(verifyBuffer);
    return result;
}
