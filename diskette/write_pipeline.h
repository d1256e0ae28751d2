// write_pipeline.h - writing one diskette image from memory onto the diskette
// in a drive, track side by track side, and the one-line progress bar that
// the image reader and the writing drive together.
#pragma once
#include <cstdint>

#include "image/image_format.h"
#include "image/image_record.h"

// Writes the image that ReadImage put into image onto the diskette in
// image->driveName: opens the drive exclusively, checks that the diskette's
// format can take the image (unless image->format is set: then every track
// side is formatted first), locks the volume, writes each track side that the
// used-track map marks (every one when image->skipUnused is 0), reads it back
// and compares when image->verify is set, polls ESC after each track, then
// makes the data reach the diskette (a failure there is the write error of
// the last track side written), dismounts, unlocks and closes. Every device
// step is tried 1 +
// image->retryCount times. Returns 1 when the whole diskette was written, or
// 0 after reporting the failure or cancellation once. Before the drive is
// touched it refuses a record that holds no complete image (no tracks, no
// sides, no buffers, more tracks than its block describes) and reports a
// verification buffer it cannot allocate. Frees nothing of the record: the
// caller frees the image with FreeImage.
[[nodiscard]] int WriteDiskette(ImageRecord* image);

// The progress routine of the diskette programs, for the image reader (actions
// 2, 5, 13) and for WriteDiskette (3, 8, 6, 7, 13, 1); track and side count
// from 0. Draws the bar, and at the event for the last side of track 0 prints
// the diskette info line and the bar's header once per diskette.
void ShowProgress(std::uint32_t track, std::uint32_t side, ProgressAction action,
                  ImageRecord* image);

// Chooses the wording of the info line that ShowProgress prints: kWriter in
// the diskette writer, kSelfDisk in the self-creating diskette. Call once at
// the start of the program; kWriter is in force until then.
void SetProgressWording(InfoLineWording wording);
