// pipeline_helper.h - hand-made images in memory for the write pipeline's
// tests, and a run of WriteDiskette with its progress output captured.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "console/text.h"
#include "diskette/write_pipeline.h"
#include "image/byte_order.h"
#include "image/used_track_map.h"
#include "tests/diskette/key_queue.h"
#include "tests/support/capture.h"

struct ImageShape {
    std::uint32_t trackCount;
    std::uint16_t sides;
    std::uint16_t sectorsPerTrack;
    std::uint16_t bytesPerSector = 512;
    std::uint8_t mediaDescriptor = 0xF0;
    std::uint8_t deviceType = 0;
};

// An image as the reader leaves it, with every track side marked used and
// every byte telling its own offset (so that a track side written from the
// wrong place shows). The record points into the object's own buffers.
class TestImage {
public:
    explicit TestImage(const ImageShape& shape) : record{} {
        DeviceParameterBlock* block = &record.parameters;
        WriteLe16(block->bytesPerSector, shape.bytesPerSector);
        block->sectorsPerCluster = 1;
        WriteLe16(block->reservedSectors, 1);
        block->fatCount = 2;
        WriteLe16(block->rootEntries, 224);
        const std::uint32_t sectorCount = shape.trackCount * shape.sides * shape.sectorsPerTrack;
        WriteLe16(block->totalSectors, static_cast<std::uint16_t>(sectorCount));
        block->mediaDescriptor = shape.mediaDescriptor;
        WriteLe16(block->sectorsPerFat, 9);
        WriteLe16(block->sectorsPerTrack, shape.sectorsPerTrack);
        WriteLe16(block->sides, shape.sides);
        WriteLe16(block->tracks, static_cast<std::uint16_t>(shape.trackCount));
        block->deviceType = shape.deviceType;
        trackSideSize = static_cast<std::size_t>(shape.sectorsPerTrack) * shape.bytesPerSector;
        buffer.resize(static_cast<std::size_t>(shape.trackCount) * shape.sides * trackSideSize);
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            buffer[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        }
        map.assign(static_cast<std::size_t>(shape.trackCount) * shape.sides, kTrackSideUsed);
        record.trackCount = shape.trackCount;
        record.imageBuffer = buffer.data();
        record.usedTrackMap = map.data();
        record.skipUnused = 1;
        (void)CopyText(record.imageFileName, std::size(record.imageFileName), "test.img");
        (void)CopyText(record.driveName, std::size(record.driveName), "A:");
    }
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;

    // The bytes of the image's track side index (track x sides + side).
    std::vector<std::uint8_t> TrackSide(std::size_t index) const {
        return std::vector<std::uint8_t>(buffer.begin() + index * trackSideSize,
                                         buffer.begin() + (index + 1) * trackSideSize);
    }

    std::vector<std::uint8_t> buffer;
    std::vector<std::uint8_t> map;
    std::size_t trackSideSize = 0;
    ImageRecord record;
};

// The bar lines in captured progress output: each ends in CR, holds the 25
// bar cells, 4 blanks and from column 29 the word, padded with blanks; the
// word of a written diskette carries its own line end. Lines are returned
// without their padding.
inline std::vector<std::string> ProgressLines(const std::string& output) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = output.find('\r'); end != std::string::npos;
         start = end + 1, end = output.find('\r', start)) {
        std::string line = output.substr(start, end - start);
        if (line.size() < 29) continue;
        while (line.back() == ' ' || line.back() == '\n') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

struct WriteOutcome {
    int result = -1;
    std::string output;                 // what the progress display wrote, colour pairs dropped
    std::vector<std::string> words;     // the words of its bar lines
    std::vector<std::string> bars;      // the 25 cells of its bar lines
};

// Runs WriteDiskette as the writers do, after the reader has reset the bar
// and printed the info line and header (that output is dropped). Keys start
// empty, with the poll count at 0.
inline WriteOutcome RunWriteDiskette(TestImage* image) {
    ImageRecord* record = &image->record;
    const std::uint32_t sides = ReadLe16(record->parameters.sides);
    (void)CaptureOutput([&] {
        ShowProgress(0, 0, ProgressAction::kReset, record);
        ShowProgress(0, sides - 1, ProgressAction::kTrackSideRead, record);
    });
    ClearKeys();
    WriteOutcome outcome;
    outcome.output = CaptureOutput([&] { outcome.result = WriteDiskette(record); });
    for (const std::string& line : ProgressLines(outcome.output)) {
        outcome.bars.push_back(line.substr(0, 25));
        outcome.words.push_back(line.substr(29));
    }
    return outcome;
}
