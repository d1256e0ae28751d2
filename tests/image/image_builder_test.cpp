// The tests' image builder checked against fsck.fat and mtools, so that the
// images other tests build are what a FAT implementation not ours expects.
#include "tests/support/image_builder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/capture.h"

static std::string FindTool(const char* name) {
    for (const char* directory : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        const std::string path = std::string(directory) + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

// Runs a shell command and returns its standard output; *status gets its status.
static std::string RunCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    *status = pclose(pipe);
    return output;
}

TEST(ImageBuilder, BuildsAFileSystemThatFsckAndMtoolsAccept) {
    const std::string fsck = FindTool("fsck.fat");
    const std::string mtype = FindTool("mtype");
    if (fsck.empty() || mtype.empty()) GTEST_SKIP() << "dosfstools or mtools not installed";

    FatImage image = FormatImage(StandardLayout(DisketteSize::k720), "BUILDER");
    PutEntry(&image, kRootDirectory, 0, VolumeLabelEntry("BUILDER"));
    AddFile(&image, kRootDirectory, FileEntry("README", "TXT"), TextBytes("hello\r\n"));
    // A subdirectory of three clusters (3 x 1024 bytes = 96 slots) holding 71
    // files after "." and "..": 73 slots, past the 64 of two clusters.
    const std::uint16_t sub = AddDirectory(&image, kRootDirectory, FileEntry("SUB", ""), 3);
    EXPECT_EQ(FollowChain(image, sub).size(), 3u);
    for (int i = 0; i < 70; ++i) {
        const std::string name = "F" + std::to_string(i);
        AddFile(&image, sub, FileEntry(name, "DAT"), TextBytes("file " + name));
    }
    std::vector<std::uint8_t> big(5000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>('A' + i % 26);
    AddFile(&image, sub, FileEntry("BIG", "BIN"), big);
    // Slot 50 lies in the second cluster: 50 x 32 = 1600, past 1024.
    EXPECT_EQ(DirectorySlotOffset(image, sub, 50), ClusterOffset(image, FollowChain(image, sub)[1]) + 576);

    TempFile file(WrapPlain(image));
    int status = 0;
    const std::string fsckOutput = RunCommand(fsck + " -n '" + file.Path() + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << fsckOutput;
    EXPECT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 " + mtype + " -i '" + file.Path() + "' ::SUB/F69.DAT", &status),
              "file F69");
    EXPECT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 " + mtype + " -i '" + file.Path() + "' ::SUB/BIG.BIN", &status),
              std::string(big.begin(), big.end()));
}

TEST(ImageBuilder, PacksTwelveBitEntries) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    SetFatEntry(&image, 2, 0xABC);
    SetFatEntry(&image, 3, 0x123);
    // Entries 2 and 3 share bytes 3..5 of each FAT: BC, 3A (low nibble A of
    // 0xABC, high nibble 3 of 0x123), 12.
    for (std::size_t fat : {512u, 512u + 9 * 512u}) {
        EXPECT_EQ(image.bytes[fat + 3], 0xBC);
        EXPECT_EQ(image.bytes[fat + 4], 0x3A);
        EXPECT_EQ(image.bytes[fat + 5], 0x12);
    }
    EXPECT_EQ(GetFatEntry(image, 2), 0xABC);
    EXPECT_EQ(GetFatEntry(image, 3), 0x123);
    // A loop ends the walk after as many steps as there are clusters.
    LinkChain(&image, {10, 11});
    SetFatEntry(&image, 11, 10);
    EXPECT_EQ(FollowChain(image, 10).size(), ClusterCount(image.layout));
}
