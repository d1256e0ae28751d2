// make_demo_image_main.cpp - writes the demo image that the README's first
// command lists and extracts: a 1.44 MB diskette in the native format, sparse
// and with a CRC, holding a few directories and files whose dates, times,
// sizes and attributes show off the listing.
//   make_demo_image OUTPUT
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace {

std::vector<std::uint8_t> Text(const std::string& firstLine, std::size_t size) {
    std::string text = firstLine + "\r\n";
    unsigned line = 1;
    while (text.size() < size) {
        text += "Line " + std::to_string(line++) + " of the demo file.\r\n";
    }
    text.resize(size);
    return TextBytes(text);
}

DirectoryEntry Entry(const char* name, const char* extension, std::uint8_t attributes,
                     unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute) {
    DirectoryEntry entry = FileEntry(name, extension, attributes);
    entry.date = DosDate(year, month, day);
    entry.time = DosTime(hour, minute, 0);
    return entry;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: make_demo_image OUTPUT\n");
        return 2;
    }
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "DEMO DISK");
    AppendEntry(&image, kRootDirectory, VolumeLabelEntry("DEMO DISK"));
    AddFile(&image, kRootDirectory,
            Entry("README", "TXT", kAttrArchive, 1998, 3, 1, 0, 30),
            Text("This diskette shows what imgextract lists and extracts.", 1234));
    AddFile(&image, kRootDirectory,
            Entry("SETUP", "EXE", kAttrArchive | kAttrReadOnly, 1996, 11, 5, 14, 2),
            Text("MZ demo program, not a real one.", 23456));
    AddFile(&image, kRootDirectory, Entry("EMPTY", "DAT", kAttrArchive, 1999, 12, 31, 23, 59), {});

    std::uint16_t docs = AddDirectory(&image, kRootDirectory,
                                      Entry("DOCS", "", 0, 1997, 6, 15, 9, 0));
    AddFile(&image, docs, Entry("MANUAL", "TXT", kAttrArchive, 1997, 6, 15, 9, 12),
            Text("The manual of the demo diskette.", 12345));
    AddFile(&image, docs, Entry("LICENSE", "TXT", kAttrReadOnly, 1997, 6, 15, 9, 14),
            Text("Free to copy, like every demo.", 700));

    std::uint16_t games = AddDirectory(&image, kRootDirectory,
                                       Entry("GAMES", "", 0, 1995, 1, 20, 18, 45));
    std::uint16_t levels = AddDirectory(&image, games, Entry("LEVELS", "", 0, 1995, 1, 20, 18, 46));
    AddFile(&image, games, Entry("MAZE", "COM", kAttrArchive, 1995, 1, 20, 18, 47),
            Text("A maze game, in spirit.", 4096));
    AddFile(&image, games, Entry("SCORES", "SYS", kAttrArchive | kAttrHidden | kAttrSystem,
                                 1995, 2, 3, 12, 0),
            Text("Highest scores", 64));
    for (unsigned level = 1; level <= 3; ++level) {
        AddFile(&image, levels,
                Entry(("LEVEL" + std::to_string(level)).c_str(), "DAT", kAttrArchive, 1995, 1, 20,
                      19, level),
                Text("Level " + std::to_string(level), 1000 * level + 512));
    }

    NativeOptions options;
    options.sparse = true;
    options.withCrc = true;
    std::vector<std::uint8_t> file = WrapNative(image, options);
    std::FILE* output = std::fopen(arguments[1], "wb");
    if (output == nullptr || std::fwrite(file.data(), 1, file.size(), output) != file.size() ||
        std::fclose(output) != 0) {
        std::fprintf(stderr, "make_demo_image: cannot write %s\n", arguments[1]);
        return 1;
    }
    return 0;
}
