// Images made by mkfs.fat (and filled by mcopy where present) cross-check the
// reader against a FAT implementation that is not ours.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "image/image_reader.h"
#include "tests/image/read_helper.h"
#include "tests/support/image_builder.h"

static std::string FindTool(const char* name) {
    const std::string directories[] = {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/", "/usr/local/sbin/",
                                       "/usr/local/bin/"};
    for (const std::string& directory : directories) {
        const std::string path = directory + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

static std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Formats a diskette of kilobytes KB with mkfs.fat, label MKFSTEST; when mcopy
// is there, copies a 5000-byte file onto it. Empty on failure.
static std::vector<std::uint8_t> MakeWithMkfs(const std::string& mkfs, unsigned kilobytes) {
    std::string directory = ::testing::TempDir() + "mkfs_image_XXXXXX";
    if (mkdtemp(directory.data()) == nullptr) return {};
    const std::string image = std::string(directory) + "/disk.img";
    const std::string content = std::string(directory) + "/data.bin";
    std::string command = mkfs + " -C -n MKFSTEST '" + image + "' " + std::to_string(kilobytes) +
                          " >/dev/null 2>&1";
    std::vector<std::uint8_t> bytes;
    if (std::system(command.c_str()) == 0) {
        const std::string mcopy = FindTool("mcopy");
        if (!mcopy.empty()) {
            std::ofstream out(content, std::ios::binary);
            for (int i = 0; i < 5000; ++i) out.put(static_cast<char>(i % 253));
            out.close();
            command = "MTOOLS_SKIP_CHECK=1 " + mcopy + " -i '" + image + "' '" + content +
                      "' ::DATA.BIN >/dev/null 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0);
        }
        bytes = ReadWholeFile(image);
    }
    unlink(image.c_str());
    unlink(content.c_str());
    rmdir(directory.c_str());
    return bytes;
}

TEST(MkfsImages, ReadInEveryFormatWithTheInfoLineTheirParametersCallFor) {
    const std::string mkfs = FindTool("mkfs.fat");
    if (mkfs.empty()) GTEST_SKIP() << "mkfs.fat is not installed";
    struct Row {
        unsigned kilobytes;
        const char* infoLine;
    };
    // Type from media and sectors per track; KB = sec/track x 512 x sides x tracks >> 10.
    const Row rows[] = {
        // FD, 9 sectors: "5,25\" DD"; 720 / 9 / 2 = 40 tracks; 9 x 512 x 2 x 40 = 368640.
        {360, "Diskette: MKFSTEST   , Type: 5,25\" DD (2 sides, 40 tracks / 9 sec.,360 K)\n"},
        // F9, 9 sectors: device type 2, "3,5\" DD"; 1440 / 9 / 2 = 80.
        {720, "Diskette: MKFSTEST   , Type: 3,5\" DD  (2 sides, 80 tracks / 9 sec.,720 K)\n"},
        // F9, 15 sectors: "5,25\" HD"; 2400 / 15 / 2 = 80.
        {1200, "Diskette: MKFSTEST   , Type: 5,25\" HD (2 sides, 80 tracks / 15 sec.,1200 K)\n"},
        // F0, 18 sectors: "3,5\" HD"; 2880 / 18 / 2 = 80.
        {1440, "Diskette: MKFSTEST   , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n"},
        // F0, 36 sectors: device type 9, "3,5\" XD"; 5760 / 36 / 2 = 80.
        {2880, "Diskette: MKFSTEST   , Type: 3,5\" XD  (2 sides, 80 tracks / 36 sec.,2880 K)\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.kilobytes) + " K");
        const std::vector<std::uint8_t> bytes = MakeWithMkfs(mkfs, row.kilobytes);
        ASSERT_EQ(bytes.size(), row.kilobytes * 1024u);
        const FatImage image = ParseFatImage(bytes);
        const std::vector<bool> used = ReferenceUsedTrackSides(image);
        const std::vector<std::vector<std::uint8_t>> files = {
            WrapPlain(image), WrapNative(image, NativeWith(true, true)), WrapSavedskf(image),
            WrapEightByteHeader(image)};
        for (std::size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE("container " + std::to_string(i));
            ImageFileReader reader(files[i]);
            ASSERT_EQ(reader.Read(ShowExtractorProgress), 1);
            EXPECT_EQ(reader.output, row.infoLine);
            const bool sparse = i == 1;
            EXPECT_TRUE(reader.Buffer() == (sparse ? RebuiltImage(image, used) : bytes));
            std::vector<std::uint8_t> expectedMap(used.size());
            for (std::size_t side = 0; side < used.size(); ++side) expectedMap[side] = used[side] ? 0xFF : 0;
            EXPECT_TRUE(reader.Map() == expectedMap);
        }
    }
}
