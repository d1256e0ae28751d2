// used_sides_main.cpp - the track sides the diskette writer writes of an
// image without /A: the used-track map as dskwrite computes it (the image
// reader's map, completed to whole clusters), counted, for bench/writer.sh.
//   used_sides IMAGE     prints "USED_SIDES <used> <all>"
#include <cstdio>

#include "image/image_file.h"
#include "image/image_reader.h"
#include "image/used_track_map.h"

int main(int argumentCount, char** arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: used_sides IMAGE\n");
        return 2;
    }
    ImageRecord image{};
    std::snprintf(image.imageFileName, sizeof(image.imageFileName), "%s", arguments[1]);
    image.fileHandle = OpenImageFile(arguments[1]);
    if (image.fileHandle < 0 || !ReadImage(&image, nullptr)) {
        std::fprintf(stderr, "used_sides: cannot read %s\n", arguments[1]);
        return 1;
    }
    CompleteUsedTrackMap(&image);
    const std::uint32_t sideCount = image.trackCount * Sides(&image.parameters);
    std::uint32_t used = 0;
    for (std::uint32_t side = 0; side < sideCount; ++side) {
        if (image.usedTrackMap[side] == kTrackSideUsed) ++used;
    }
    std::printf("USED_SIDES %u %u\n", used, sideCount);
    FreeImage(&image);
    CloseImageFile(image.fileHandle);
    return 0;
}
