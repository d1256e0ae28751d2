// writer_images_main.cpp - the host's side of the diskette writer in the qemu
// guest: the diskettes it writes, and the check of a drive's image file after.
//   writer_images make DIR                 DIR/files.img (plain), DIR/files.vlm (native,
//                                          sparse, with CRC), DIR/second.img (plain, a
//                                          second diskette, the self-creating diskette's
//                                          diskette 2), DIR/dmf.img and DIR/xd.img (plain,
//                                          1.68 MB DMF and 2.88 MB), DIR/marker.img (a
//                                          drive image holding only the marker byte)
//   writer_images check FILE used|all NAME [second|dmf|xd]
//                                          FILE holds the diskette's (files.img's, or
//                                          the one named) used track sides (or all of
//                                          them) and the marker elsewhere;
//                                          prints "CHECK host-NAME ok|FAIL ..."
// Exit 0: done or passed; 1: failed; 2: bad arguments or files.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace {

constexpr std::uint8_t kMarkerByte = 0x5A;   // a drive image before the writer
constexpr std::uint8_t kUnusedFill = 0x00;   // the plain image's free clusters: neither
                                             // the marker nor the reader's 0xF6

// Bytes that differ from file to file and along each file.
std::vector<std::uint8_t> Content(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 29 + (i >> 9)) ^ (seed << 4));
    }
    return bytes;
}

// Puts a file into the clusters given, wherever they lie.
void AddFileAt(FatImage* image, std::uint16_t directoryCluster, DirectoryEntry entry,
               const std::vector<std::uint16_t>& chain, const std::vector<std::uint8_t>& content) {
    LinkChain(image, chain);
    WriteChainData(image, chain, content);
    entry.firstCluster = chain.front();
    entry.size = static_cast<std::uint32_t>(content.size());
    AppendEntry(image, directoryCluster, entry);
}

std::vector<std::uint16_t> Clusters(std::uint16_t first, std::uint16_t count) {
    std::vector<std::uint16_t> chain;
    for (std::uint16_t i = 0; i < count; ++i) chain.push_back(static_cast<std::uint16_t>(first + i));
    return chain;
}

// A 1.44 MB diskette (one sector per cluster, cluster c at sector c + 31,
// track side = sector / 18) with files at its start, middle and end:
//   system area, sectors 0-32                   sides 0, 1
//   README.TXT 3000 B, clusters 2-7 (33-38)     sides 1, 2
//   DOCS, cluster 8 (sector 39)                 side 2
//   DOCS\NOTES.TXT 700 B, clusters 700-701 (731-732)          side 40 (720-737)
//   MIDDLE.BIN 20000 B, clusters 1400-1439 (1431-1470)        sides 79, 80, 81
//   LAST.BIN 5000 B, clusters 2839-2848 (2870-2879, the last) side 159
// so 8 of the 160 track sides hold data.
const std::vector<std::size_t> kUsedTrackSides = {0, 1, 2, 40, 79, 80, 81, 159};

FatImage MakeDiskette() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "WRITER TEST", kUnusedFill);
    AppendEntry(&image, kRootDirectory, VolumeLabelEntry("WRITER TEST"));
    AddFile(&image, kRootDirectory, FileEntry("README", "TXT"), Content(3000, 1));
    const std::uint16_t docs = AddDirectory(&image, kRootDirectory, FileEntry("DOCS", ""));
    AddFileAt(&image, docs, FileEntry("NOTES", "TXT"), Clusters(700, 2), Content(700, 2));
    AddFileAt(&image, kRootDirectory, FileEntry("MIDDLE", "BIN"), Clusters(1400, 40),
              Content(20000, 3));
    AddFileAt(&image, kRootDirectory, FileEntry("LAST", "BIN"), Clusters(2839, 10),
              Content(5000, 4));
    return image;
}

// A second 1.44 MB diskette, unlike the first in its label, its contents and
// the track sides it uses, so that a diskette written in place of the other
// shows:
//   system area, sectors 0-32                   sides 0, 1
//   ALPHA.TXT 1500 B, clusters 2-4 (33-35)      side 1
//   BETA.BIN 10000 B, clusters 1000-1019 (1031-1050)     sides 57 (1026-1043), 58
//   GAMMA.BIN 4000 B, clusters 2500-2507 (2531-2538)     sides 140 (2520-2537), 141
// so 6 of the 160 track sides hold data.
const std::vector<std::size_t> kSecondUsedTrackSides = {0, 1, 57, 58, 140, 141};

FatImage MakeSecondDiskette() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "SECOND DISK", kUnusedFill);
    AppendEntry(&image, kRootDirectory, VolumeLabelEntry("SECOND DISK"));
    AddFile(&image, kRootDirectory, FileEntry("ALPHA", "TXT"), Content(1500, 5));
    AddFileAt(&image, kRootDirectory, FileEntry("BETA", "BIN"), Clusters(1000, 20),
              Content(10000, 6));
    AddFileAt(&image, kRootDirectory, FileEntry("GAMMA", "BIN"), Clusters(2500, 8),
              Content(4000, 7));
    return image;
}

// A 1.68 MB DMF diskette (21 sectors per track, two sectors per cluster,
// cluster c at sector 2c + 29) and a 2.88 MB one (36 sectors, cluster c at
// sector 2c + 30), each with a file at its start and one in its last cluster:
//   DMF:  system area 0-32, sides 0, 1; README.TXT cluster 2 (33-34), side 1;
//         LAST.BIN cluster 1664 (3357-3358), side 159 (3339-3359)
//   2.88: system area 0-33, README.TXT cluster 2 (34-35), side 0;
//         LAST.BIN cluster 2864 (5758-5759), side 159 (5724-5759)
const std::vector<std::size_t> kDmfUsedTrackSides = {0, 1, 159};
const std::vector<std::size_t> kExtraDensityUsedTrackSides = {0, 159};

FatImage MakeLayoutDiskette(bool dmf) {
    DisketteLayout layout = StandardLayout(dmf ? DisketteSize::k1440 : DisketteSize::k2880);
    if (dmf) {
        layout.sectorsPerTrack = 21;
        layout.totalSectors = 80 * 2 * 21;
        layout.sectorsPerCluster = 2;
    }
    FatImage image = FormatImage(layout, dmf ? "DMF DISK" : "XD DISK", kUnusedFill);
    AddFile(&image, kRootDirectory, FileEntry("README", "TXT"), Content(1000, dmf ? 8 : 9));
    AddFileAt(&image, kRootDirectory, FileEntry("LAST", "BIN"), Clusters(dmf ? 1664 : 2864, 1),
              Content(1024, dmf ? 10 : 11));
    return image;
}

// The builder's own used-track rule must agree with the sides worked out
// above, or the checks would test against the wrong sides.
bool UsesPlannedSides(const FatImage& image, const std::vector<std::size_t>& planned) {
    const std::vector<bool> used = ReferenceUsedTrackSides(image, true);
    std::vector<std::size_t> usedList;
    for (std::size_t side = 0; side < used.size(); ++side) {
        if (used[side]) usedList.push_back(side);
    }
    return usedList == planned;
}

bool WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

int Make(const std::string& directory) {
    const FatImage image = MakeDiskette();
    const FatImage second = MakeSecondDiskette();
    const FatImage dmf = MakeLayoutDiskette(true);
    const FatImage extraDensity = MakeLayoutDiskette(false);
    if (!UsesPlannedSides(image, kUsedTrackSides) ||
        !UsesPlannedSides(second, kSecondUsedTrackSides) ||
        !UsesPlannedSides(dmf, kDmfUsedTrackSides) ||
        !UsesPlannedSides(extraDensity, kExtraDensityUsedTrackSides)) {
        std::fprintf(stderr, "writer_images: a diskette uses other track sides than planned\n");
        return 2;
    }
    const std::vector<std::uint8_t> marker(image.bytes.size(), kMarkerByte);
    if (!WriteFile(directory + "/files.img", WrapPlain(image)) ||
        !WriteFile(directory + "/files.vlm", WrapNative(image, NativeWith(true, true))) ||
        !WriteFile(directory + "/second.img", WrapPlain(second)) ||
        !WriteFile(directory + "/dmf.img", WrapPlain(dmf)) ||
        !WriteFile(directory + "/xd.img", WrapPlain(extraDensity)) ||
        !WriteFile(directory + "/marker.img", marker)) {
        std::fprintf(stderr, "writer_images: cannot write into %s\n", directory.c_str());
        return 2;
    }
    return 0;
}

int Check(const std::string& fileName, bool all, const std::string& name,
          const std::string& diskette) {
    std::ifstream file(fileName, std::ios::binary);
    const std::vector<std::uint8_t> drive((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    const FatImage image = diskette == "second" ? MakeSecondDiskette()
                           : diskette == "dmf"  ? MakeLayoutDiskette(true)
                           : diskette == "xd"   ? MakeLayoutDiskette(false)
                                                : MakeDiskette();
    const std::vector<std::size_t>& usedSides = diskette == "second" ? kSecondUsedTrackSides
                                                : diskette == "dmf"  ? kDmfUsedTrackSides
                                                : diskette == "xd"   ? kExtraDensityUsedTrackSides
                                                                     : kUsedTrackSides;
    const std::size_t sideSize = TrackSideSize(image.layout);
    if (drive.size() != image.bytes.size()) {
        std::printf("CHECK host-%s FAIL %s holds %zu bytes, not %zu\n", name.c_str(),
                    fileName.c_str(), drive.size(), image.bytes.size());
        return 1;
    }
    std::vector<bool> written(drive.size() / sideSize, all);
    for (std::size_t side : usedSides) written[side] = true;
    std::size_t writtenCount = 0;
    std::size_t wrongCount = 0;
    for (std::size_t side = 0; side < written.size(); ++side) {
        bool matches = true;
        for (std::size_t i = side * sideSize; i < (side + 1) * sideSize && matches; ++i) {
            matches = drive[i] == (written[side] ? image.bytes[i] : kMarkerByte);
        }
        if (written[side]) ++writtenCount;
        if (!matches) {
            if (wrongCount < 5) {
                std::printf("track side %zu: expected %s\n", side,
                            written[side] ? "the diskette's bytes" : "the marker");
            }
            ++wrongCount;
        }
    }
    std::printf("CHECK host-%s %s %zu track sides written, %zu unchanged, %zu wrong\n",
                name.c_str(), wrongCount == 0 ? "ok" : "FAIL", writtenCount,
                written.size() - writtenCount, wrongCount);
    return wrongCount == 0 ? 0 : 1;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    const std::vector<std::string> words(arguments + 1, arguments + argumentCount);
    if (words.size() == 2 && words[0] == "make") return Make(words[1]);
    const std::string diskette = words.size() == 5 ? words[4] : "";
    if ((words.size() == 4 || diskette == "second" || diskette == "dmf" || diskette == "xd") &&
        words[0] == "check" && (words[2] == "used" || words[2] == "all")) {
        return Check(words[1], words[2] == "all", words[3], diskette);
    }
    std::fprintf(stderr, "usage: writer_images make DIR | check FILE used|all NAME "
                         "[second|dmf|xd]\n");
    return 2;
}
