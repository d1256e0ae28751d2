// Cross-check against the FAT tools of the system: diskettes formatted by
// mkfs.fat and filled by mtools are extracted by imgextract and by mcopy, and
// the two trees must be the same, byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"

namespace {

// The full path of a program found in PATH or in the system directories
// (mkfs.fat lives in /usr/sbin, which an ordinary user's PATH may lack);
// empty when it is nowhere.
std::string FindTool(const std::string& name) {
    std::string directories = "/usr/sbin:/sbin:/usr/bin:/bin";
    if (const char* path = std::getenv("PATH")) directories = std::string(path) + ":" + directories;
    std::stringstream stream(directories);
    std::string directory;
    while (std::getline(stream, directory, ':')) {
        if (directory.empty()) continue;
        const std::string candidate = directory + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

struct Tools {
    std::string mkfs, mmd, mcopy, mdel;
    bool Complete() const { return !mkfs.empty() && !mmd.empty() && !mcopy.empty() && !mdel.empty(); }
};

Tools FindTools() {
    return Tools{FindTool("mkfs.fat"), FindTool("mmd"), FindTool("mcopy"), FindTool("mdel")};
}

// Runs a tool in directory; its output is kept for the failure message.
void RunTool(const std::string& directory, const std::vector<std::string>& command) {
    ChildOptions options;
    options.workingDirectory = directory;
    options.environment = {"LC_ALL=C", "MTOOLS_SKIP_CHECK=1", "MTOOLS_NO_VFAT=1"};
    const ChildResult result = RunProgram(command, options);
    std::string line;
    for (const std::string& part : command) line += part + " ";
    ASSERT_EQ(result.exitCode, 0) << line << "\n" << result.output;
}

// One file of the diskette: where it goes and how many bytes it holds.
struct PlannedFile {
    std::string path;   // "DIR/NAME.EXT" on the diskette
    std::size_t size;
};

// Fills disk.img in directory (already formatted) through mtools: nested
// directories, files of many sizes around the cluster size, a directory of
// several clusters, and files deleted so that later files are fragmented.
// Returns nothing; a failing tool fails the test.
void FillDiskette(const Tools& tools, const std::string& directory, std::size_t clusterSize,
                  std::size_t bigSize) {
    const std::string image = "disk.img";
    ASSERT_EQ(mkdir((directory + "/src").c_str(), 0777), 0);
    unsigned seed = 0;
    auto copy = [&](const std::vector<PlannedFile>& files) {
        for (const PlannedFile& file : files) {
            const std::string source = "src/F" + std::to_string(++seed);
            WriteBytes(directory + "/" + source, PatternBytes(file.size, seed));
            RunTool(directory, {tools.mcopy, "-i", image, source, "::" + file.path});
        }
    };
    auto makeDirectory = [&](const std::string& path) {
        RunTool(directory, {tools.mmd, "-i", image, "::" + path});
    };
    auto remove = [&](const std::string& path) {
        RunTool(directory, {tools.mdel, "-i", image, "::" + path});
    };
    const std::size_t c = clusterSize;
    copy({{"EMPTY.DAT", 0}, {"ONE.DAT", 1}, {"SHORT.DAT", c - 1}, {"EXACT.DAT", c},
          {"TWO.DAT", 2 * c}, {"THREE.DAT", 2 * c + 1}, {"README.TXT", 1000}});
    // Holes: the clusters of GAP1 and GAP2 become free again, so BIG fills
    // them first and goes on after KEEP2.
    copy({{"GAP1.BIN", 3 * c + 5}, {"KEEP1.BIN", 700}, {"GAP2.BIN", 5 * c}, {"KEEP2.BIN", 1}});
    remove("GAP1.BIN");
    remove("GAP2.BIN");
    copy({{"BIG.BIN", bigSize}});
    makeDirectory("DIR1");
    copy({{"DIR1/A.TXT", 123}, {"DIR1/HOLE.BIN", 2 * c}});
    makeDirectory("DIR1/SUB");
    copy({{"DIR1/SUB/B.TXT", c + 3}});
    remove("DIR1/HOLE.BIN");
    makeDirectory("DIR1/SUB/DEEP");
    copy({{"DIR1/SUB/DEEP/C.BIN", 4 * c + 100}, {"DIR1/SUB/DEEP/EMPTY", 0}});
    // A directory of many entries: its own clusters lie between those of
    // its files, so its chain is fragmented as well.
    makeDirectory("MANY");
    std::vector<PlannedFile> many;
    for (unsigned i = 0; i < 40; ++i) many.push_back({"MANY/M" + std::to_string(i) + ".DAT", 100 + i * 37});
    copy(many);
    copy({{"DIR1/AFTER.TXT", 3 * c}, {"LAST.DAT", 12345}});
}

// The clusters of the root file whose stored 11-byte name is storedName,
// following the first FAT; empty when there is no such entry.
std::vector<std::uint16_t> RootFileChain(const std::string& imagePath, const std::string& storedName) {
    const FatImage image = ParseFatImage(ReadBytes(imagePath));
    for (std::size_t index = 0; index < image.layout.rootEntries; ++index) {
        const std::size_t at = RootDirectoryOffset(image) + index * kEntrySize;
        if (std::equal(storedName.begin(), storedName.end(), image.bytes.begin() + at)) {
            return FollowChain(image, GetLe16(image.bytes, at + 26));
        }
    }
    return {};
}

bool IsContiguous(const std::vector<std::uint16_t>& chain) {
    for (std::size_t i = 1; i < chain.size(); ++i) {
        if (chain[i] != chain[i - 1] + 1) return false;
    }
    return true;
}

TEST(CrossCheck, ExtractsMtoolsDiskettesAsMcopyDoes) {
    const Tools tools = FindTools();
    if (!tools.Complete()) GTEST_SKIP() << "mkfs.fat, mmd, mcopy or mdel is not installed";
    struct Row {
        const char* name;
        const char* kilobytes;
        std::size_t clusterSize;   // what mkfs.fat gives a standard diskette of that size
        std::size_t bigSize;
    };
    const Row rows[] = {
        {"360 KB", "360", 1024, 60000},
        {"720 KB", "720", 1024, 200000},
        {"1.44 MB", "1440", 512, 400000},
        {"2.88 MB", "2880", 1024, 900000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory temp;
        RunTool(temp.Path(), {tools.mkfs, "-C", "-F", "12", "disk.img", row.kilobytes});
        FillDiskette(tools, temp.Path(), row.clusterSize, row.bigSize);
        if (HasFatalFailure()) return;
        const std::vector<std::uint16_t> big = RootFileChain(temp / "disk.img", "BIG     BIN");
        EXPECT_EQ(big.size(), (row.bigSize + row.clusterSize - 1) / row.clusterSize);
        EXPECT_FALSE(IsContiguous(big)) << "BIG.BIN should fill the holes of GAP1 and GAP2";

        ASSERT_EQ(mkdir((temp / "ours").c_str(), 0777), 0);
        ASSERT_EQ(mkdir((temp / "theirs").c_str(), 0777), 0);
        // Deleted entries are left out: their names begin with "?", which
        // the pattern takes literally after the escape "/".
        const ChildResult ours = RunExtractor({"disk.img", "-x", "*\\/?*", "-d", "ours"}, "", temp.Path());
        EXPECT_EQ(ours.exitCode, 0) << ours.output;
        RunTool(temp.Path(), {tools.mcopy, "-s", "-n", "-i", "disk.img", "::", "theirs"});

        const std::set<std::string> ourTree = TreeBelow(temp / "ours");
        EXPECT_EQ(ourTree, TreeBelow(temp / "theirs"));
        // Files: 7 + KEEP1, KEEP2, BIG + LAST in the root, A, AFTER, B, C, EMPTY
        // below DIR1 and 40 in MANY = 56 (the deleted ones gone); 4 directories.
        EXPECT_EQ(ourTree.size(), 56u + 4u);
        for (const std::string& path : ourTree) {
            if (path.back() == '/') continue;
            SCOPED_TRACE(path);
            EXPECT_EQ(ReadBytes(temp / ("ours/" + path)), ReadBytes(temp / ("theirs/" + path)));
        }
    }
}

TEST(CrossCheck, RefusesAFat16VolumeMadeByMkfs) {
    // mkfs.fat makes a FAT16 volume of 2.88 MB with one sector per cluster
    // (5698 clusters); mcopy reads the file back from it, the extractor
    // refuses the volume instead of reading its FAT as 12-bit entries.
    const Tools tools = FindTools();
    if (!tools.Complete()) GTEST_SKIP() << "mkfs.fat, mmd, mcopy or mdel is not installed";
    TempDirectory temp;
    RunTool(temp.Path(), {tools.mkfs, "-C", "-F", "16", "-s", "1", "-g", "2/36", "disk.img", "2880"});
    WriteBytes(temp / "big.bin", PatternBytes(20000, 5));
    RunTool(temp.Path(), {tools.mcopy, "-i", "disk.img", "big.bin", "::BIG.BIN"});
    RunTool(temp.Path(), {tools.mcopy, "-i", "disk.img", "::BIG.BIN", "back.bin"});
    if (HasFatalFailure()) return;
    EXPECT_EQ(ReadBytes(temp / "back.bin"), PatternBytes(20000, 5));
    ASSERT_EQ(mkdir((temp / "ours").c_str(), 0777), 0);
    const ChildResult ours = RunExtractor({"disk.img", "-d", "ours"}, "", temp.Path());
    EXPECT_EQ(ours.exitCode, 3);
    EXPECT_EQ(AfterInfoLine(ours.output),
              ErrorText("'disk.img' contains image data which can not be handled.") +
                  "No corresponding files found.\n");
    EXPECT_TRUE(TreeBelow(temp / "ours").empty());
}

}  // namespace
