// make_fuzz_seeds_main.cpp - writes the seed corpus of every fuzz target,
// made by the tests' image builder: small diskettes (so that a fuzzer runs
// fast) in every container format, a few with one fault each, and texts for
// the wildcard and command-line targets.
//   make_fuzz_seeds DIRECTORY   creates DIRECTORY/<target>/seed-NN
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// 16 KB: 32 sectors of 512 bytes, 8 per track, 2 sides, 2 tracks; one FAT
// sector per copy, one root-directory sector (16 entries), 28 clusters.
DisketteLayout TinyLayout() {
    DisketteLayout layout{};
    layout.bytesPerSector = 512;
    layout.sectorsPerCluster = 1;
    layout.reservedSectors = 1;
    layout.fatCount = 2;
    layout.rootEntries = 16;
    layout.totalSectors = 32;
    layout.mediaDescriptor = 0xF0;
    layout.sectorsPerFat = 1;
    layout.sectorsPerTrack = 8;
    layout.sides = 2;
    return layout;
}

Bytes Text(const std::string& text, std::size_t size) {
    std::string bytes;
    while (bytes.size() < size) bytes += text;
    bytes.resize(size);
    return TextBytes(bytes);
}

// A tiny diskette with a label, files, nested directories, an empty file, a
// deleted entry and a long name.
FatImage TinyDiskette() {
    FatImage image = FormatImage(TinyLayout(), "SEED");
    AppendEntry(&image, kRootDirectory, VolumeLabelEntry("SEED DISK"));
    DirectoryEntry readme = FileEntry("README", "TXT");
    readme.date = DosDate(1998, 3, 1);
    readme.time = DosTime(13, 45, 30);
    AddFile(&image, kRootDirectory, readme, Text("Hello, diskette.\r\n", 1300));
    AddFile(&image, kRootDirectory, FileEntry("EMPTY", "DAT", kAttrReadOnly), {});
    DirectoryEntry shortEntry = FileEntry("LONGNA~1", "TXT");
    AppendEntry(&image, kRootDirectory,
                LongNameEntry(0x41, "Long name.txt", ShortNameChecksum(EncodeEntry(shortEntry))));
    AddFile(&image, kRootDirectory, shortEntry, Text("long", 40));
    const std::uint16_t docs = AddDirectory(&image, kRootDirectory, FileEntry("DOCS", ""));
    AddFile(&image, docs, FileEntry("MANUAL", "DOC", kAttrHidden | kAttrSystem), Text("Manual. ", 2000));
    const std::uint16_t sub = AddDirectory(&image, docs, FileEntry("SUB", ""));
    AddFile(&image, sub, FileEntry("DEEP", "TXT"), Text("deep", 100));
    DirectoryEntry deleted = FileEntry("\xE5" "OLD", "BAK");
    deleted.size = 10;
    AppendEntry(&image, docs, deleted);
    return image;
}

// The same diskette with one fault each.
std::vector<FatImage> FaultyDiskettes() {
    std::vector<FatImage> images;
    {
        FatImage image = TinyDiskette();
        const std::vector<std::uint16_t> chain = FollowChain(image, GetLe16(image.bytes, RootDirectoryOffset(image) + 32 + 26));
        if (chain.size() > 1) SetFatEntry(&image, chain[1], chain[0]);   // README loops
        images.push_back(image);
    }
    {
        FatImage image = TinyDiskette();
        const std::size_t docsEntry = RootDirectoryOffset(image) + 5 * kEntrySize;
        const std::uint16_t docs = GetLe16(image.bytes, docsEntry + 26);
        DirectoryEntry loop = FileEntry("LOOP", "", kAttrDirectory);
        loop.firstCluster = docs;
        AppendEntry(&image, docs, loop);   // a directory holding itself
        images.push_back(image);
    }
    return images;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

bool WriteSeeds(const std::string& directory, const std::string& target, const std::vector<Bytes>& seeds) {
    const std::string folder = directory + "/" + target;
    mkdir(folder.c_str(), 0777);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "/seed-%02zu", i);
        if (!WriteFile(folder + name, seeds[i])) return false;
    }
    return true;
}

// The block the native header stores for a diskette: boot-sector bytes 11 to
// 35, zero image bytes, tracks, device type 0, device attributes 0.
Bytes BlockOf(const FatImage& image) {
    Bytes block(image.bytes.begin() + 11, image.bytes.begin() + 36);
    block.resize(36, 0);
    block[31] = static_cast<std::uint8_t>(TrackCount(image.layout));
    return block;
}

Bytes Joined(const std::vector<std::string>& pieces) {
    Bytes bytes;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) bytes.push_back(0);
        bytes.insert(bytes.end(), pieces[i].begin(), pieces[i].end());
    }
    return bytes;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
        return 2;
    }
    const std::string directory = arguments[1];
    mkdir(directory.c_str(), 0777);

    std::vector<FatImage> diskettes = {TinyDiskette()};
    for (const FatImage& faulty : FaultyDiskettes()) diskettes.push_back(faulty);

    std::vector<Bytes> imageFiles;
    std::vector<Bytes> volumes;
    for (const FatImage& diskette : diskettes) {
        imageFiles.push_back(WrapNative(diskette));
        Bytes volume = BlockOf(diskette);
        volume.insert(volume.end(), diskette.bytes.begin(), diskette.bytes.end());
        volumes.push_back(volume);
    }
    const FatImage& tiny = diskettes[0];
    imageFiles.push_back(WrapNative(tiny, NativeWith(true, true)));
    imageFiles.push_back(WrapSavedskf(tiny));
    imageFiles.push_back(WrapSavedskf(tiny, SavedskfWith(0x58AA, 0, 20)));
    imageFiles.push_back(WrapPlain(tiny));
    imageFiles.push_back(WrapEightByteHeader(tiny));
    {
        Bytes two = WrapNative(tiny, NativeWith(true));   // two images one after the other
        const Bytes second = WrapNative(diskettes[1]);
        two.insert(two.end(), second.begin(), second.end());
        imageFiles.push_back(two);
    }

    const std::vector<Bytes> patterns = {
        Joined({"*.TXT", "\\README.TXT"}), Joined({"DOCS\\*", "DOCS\\SUB\\DEEP.TXT"}),
        Joined({"<A-Z>*<|0-9>", "ABC"}),   Joined({"/*?/<", "*x<"}),
        Joined({"*<a-c-><->?*", "b-"}),    Joined({"**?*?*?*", "LONGNAME"}),
    };
    const std::vector<Bytes> commandLines = {
        Joined({"-v", "image.img"}),
        Joined({"-j", "-o", "image.img", "*.TXT", "DOCS\\*", "-x", "*.BAK", "-d", "out"}),
        Joined({"/n", "image.img", "-x"}),
        Joined({"image.img", "-d"}),
        Joined({"-v", "-q", "image.img"}),
    };

    const bool written = WriteSeeds(directory, "image_reader", imageFiles) &&
                         WriteSeeds(directory, "extraction", imageFiles) &&
                         WriteSeeds(directory, "fat_volume", volumes) &&
                         WriteSeeds(directory, "wildcard", patterns) &&
                         WriteSeeds(directory, "command_line", commandLines);
    if (!written) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write into %s\n", directory.c_str());
        return 1;
    }
    return 0;
}
