// read_helper.h - reading an image file built by the tests, with the reader's
// output and progress events captured.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "console/text.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "tests/support/capture.h"

struct ProgressEvent {
    std::uint32_t track;
    std::uint32_t side;
    ProgressAction action;
    bool operator==(const ProgressEvent& other) const {
        return track == other.track && side == other.side && action == other.action;
    }
};

inline std::vector<ProgressEvent>& RecordedEvents() {
    static std::vector<ProgressEvent> events;
    return events;
}

inline void RecordProgress(std::uint32_t track, std::uint32_t side, ProgressAction action,
                           ImageRecord*) {
    RecordedEvents().push_back({track, side, action});
}

// What the reader shows for a message without and with system error code 30
// when standard output is a file: the colour pairs are dropped.
inline std::string MessageText(const std::string& text) { return "\n" + text + "\n"; }
inline std::string ReadErrorText(const std::string& path) {
    return "\nError while reading image data from '" + path + "'.\n(SYS0030)\n";
}
inline std::string NotHandledText(const std::string& path) {
    return MessageText("'" + path + "' contains image data which can not be handled.");
}

// An image file on disk with an open record for it; frees and closes at the end.
class ImageFileReader {
public:
    explicit ImageFileReader(const std::vector<std::uint8_t>& bytes) : file_(bytes), record{} {
        record.fileHandle = file_.OpenForReading();
        (void)CopyText(record.imageFileName, std::size(record.imageFileName), file_.Path().c_str());
    }
    ~ImageFileReader() {
        FreeImage(&record);
        close(record.fileHandle);
    }
    ImageFileReader(const ImageFileReader&) = delete;
    ImageFileReader& operator=(const ImageFileReader&) = delete;

    // Runs ReadImage with the output captured; the events start afresh.
    int Read(ProgressRoutine progress = RecordProgress) {
        RecordedEvents().clear();
        int result = -1;
        output = CaptureOutput([&] { result = ReadImage(&record, progress); });
        return result;
    }
    std::vector<std::uint8_t> Buffer() const {
        if (record.imageBuffer == nullptr) return {};
        return std::vector<std::uint8_t>(record.imageBuffer,
                                         record.imageBuffer + ImageBufferSize(&record));
    }
    std::vector<std::uint8_t> Map() const {
        if (record.usedTrackMap == nullptr) return {};
        return std::vector<std::uint8_t>(record.usedTrackMap,
                                         record.usedTrackMap + record.trackCount * Sides(&record.parameters));
    }
    const std::string& Path() const { return file_.Path(); }

private:
    TempFile file_;

public:
    ImageRecord record;
    std::string output;
};
