// Crafted images: each is a good diskette from the image builder with one
// named fault. imgextract runs on each in a sandbox of its own and must end
// with 0 or 3 (a clear message with 3), within a time limit, leave nothing
// outside the extraction directory, and extract only the truth: every file it
// leaves holds the first bytes of what the diskette holds under that name, a
// short file only after an error, and at most one of them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

// Seconds a run may take before it counts as hanging; a good run takes well
// under one even under the sanitizers.
constexpr const char* kTimeLimit = "60";
constexpr const char* kTimeoutProgram = "/usr/bin/timeout";

enum class Outcome { kSuccess, kError, kEither };

struct CraftedImage {
    std::string name;
    Bytes file;                                // the image file as handed to imgextract
    std::map<std::string, Bytes> truth;        // path below the extraction directory -> bytes
    std::vector<std::string> complete;         // paths that must be extracted in full
    Outcome outcome = Outcome::kEither;
    std::string message;                       // a text the output holds when the run ends with 3
    std::vector<std::string> switches;         // before the image file name
};

// Bytes that differ from file to file and from cluster to cluster, so that a
// wrong or misplaced cluster shows.
Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    std::uint32_t state = 0x9E3779B9u * (seed + 1u);
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

// The good image: a 720 KB diskette (1024-byte clusters) holding
//   README.TXT  1300 bytes, 2 clusters
//   DOCS/       1 cluster: MANUAL.TXT 3000 bytes (3 clusters), SUB/
//   DOCS/SUB/   1 cluster: DEEP.TXT 700 bytes (1 cluster)
// in this walk order.
struct GoodImage {
    FatImage image;
    std::uint16_t docs = 0;
    std::uint16_t sub = 0;
    std::vector<std::uint16_t> readmeChain;
    std::vector<std::uint16_t> manualChain;
    std::map<std::string, Bytes> truth;
};

constexpr std::size_t kReadmeSlot = 0;    // root directory slots
constexpr std::size_t kDocsSlot = 1;
constexpr std::size_t kManualSlot = 2;    // DOCS slots ("." and ".." first)

GoodImage MakeGoodImage() {
    GoodImage good;
    good.image = FormatImage(StandardLayout(DisketteSize::k720), "CRAFTED");
    good.truth["README.TXT"] = Pattern(1300, 1);
    good.truth["DOCS/MANUAL.TXT"] = Pattern(3000, 2);
    good.truth["DOCS/SUB/DEEP.TXT"] = Pattern(700, 3);
    const std::uint16_t readme =
        AddFile(&good.image, kRootDirectory, FileEntry("README", "TXT"), good.truth["README.TXT"]);
    good.docs = AddDirectory(&good.image, kRootDirectory, FileEntry("DOCS", "", 0));
    const std::uint16_t manual = AddFile(&good.image, good.docs, FileEntry("MANUAL", "TXT"),
                                         good.truth["DOCS/MANUAL.TXT"]);
    good.sub = AddDirectory(&good.image, good.docs, FileEntry("SUB", "", 0));
    AddFile(&good.image, good.sub, FileEntry("DEEP", "TXT"), good.truth["DOCS/SUB/DEEP.TXT"]);
    good.readmeChain = FollowChain(good.image, readme);
    good.manualChain = FollowChain(good.image, manual);
    return good;
}

std::vector<std::string> AllGoodFiles() {
    return {"README.TXT", "DOCS/MANUAL.TXT", "DOCS/SUB/DEEP.TXT"};
}

// The bytes of the clusters of chain, one after the other, cut to size.
Bytes ChainBytes(const FatImage& image, const std::vector<std::uint16_t>& chain, std::size_t size) {
    const std::size_t clusterSize =
        static_cast<std::size_t>(image.layout.sectorsPerCluster) * image.layout.bytesPerSector;
    Bytes bytes;
    for (std::uint16_t cluster : chain) {
        const std::size_t offset = ClusterOffset(image, cluster);
        bytes.insert(bytes.end(), image.bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     image.bytes.begin() + static_cast<std::ptrdiff_t>(offset + clusterSize));
    }
    if (bytes.size() > size) bytes.resize(size);
    return bytes;
}

std::size_t EntryOffset(const GoodImage& good, std::uint16_t directory, std::size_t slot) {
    return DirectorySlotOffset(good.image, directory, slot);
}

// Stores name bytes (8 + 3, padded with spaces) into an existing entry.
void RenameEntry(GoodImage* good, std::uint16_t directory, std::size_t slot, const std::string& name,
                 const std::string& extension) {
    const std::size_t offset = EntryOffset(*good, directory, slot);
    for (std::size_t i = 0; i < 11; ++i) {
        char byte = ' ';
        if (i < 8 && i < name.size()) byte = name[i];
        if (i >= 8 && i - 8 < extension.size()) byte = extension[i - 8];
        good->image.bytes.at(offset + i) = static_cast<std::uint8_t>(byte);
    }
}

CraftedImage Row(const std::string& name, const GoodImage& good, Outcome outcome,
                 const std::string& message = "") {
    CraftedImage row;
    row.name = name;
    row.file = WrapNative(good.image);
    row.truth = good.truth;
    row.outcome = outcome;
    row.message = message;
    return row;
}

const char kFileNotCreated[] = "could not be created.";
const char kHeaderNotRead[] = "could not be read.";
const char kReadError[] = "Error while reading image data from";
const char kNotHandled[] = "contains image data which can not be handled.";

std::vector<CraftedImage> TruncatedImages() {
    std::vector<CraftedImage> rows;
    const GoodImage good = MakeGoodImage();
    const Bytes native = WrapNative(good.image);
    // 720 KB: FAT at 512, root at 512 + 2 x 3 x 512 = 3584, data from 3584 + 7 x 512 = 7168;
    // README's clusters (2 and 3) at 7168 and 8192, in the native file 47 bytes further.
    const struct {
        const char* name;
        std::size_t length;
        const char* message;
    } cuts[] = {
        {"native, empty file", 0, kHeaderNotRead},
        {"native, inside the signature", 5, kHeaderNotRead},
        {"native, inside the parameter block", 30, kHeaderNotRead},
        {"native, header only", 47, kHeaderNotRead},
        {"native, inside the FAT", 47 + 1000, kHeaderNotRead},
        {"native, inside the root directory", 47 + 4000, kHeaderNotRead},
        {"native, inside README's second cluster", 47 + 8192 + 100, kReadError},
        {"native, after the first track side", 47 + 9 * 512, kHeaderNotRead},
        {"native, in the middle", 47 + 368640, kReadError},
        {"native, one byte short", native.size() - 1, kReadError},
    };
    for (const auto& cut : cuts) {
        CraftedImage row = Row(std::string("truncated: ") + cut.name, good, Outcome::kError,
                               cut.message);
        row.file.resize(cut.length);
        rows.push_back(row);
    }
    {
        CraftedImage row = Row("truncated: plain image in the middle", good, Outcome::kError, kReadError);
        row.file = WrapPlain(good.image);
        row.file.resize(row.file.size() / 2);
        rows.push_back(row);
    }
    {
        CraftedImage row = Row("truncated: sparse native image", good, Outcome::kError, kReadError);
        row.file = WrapNative(good.image, NativeWith(true));
        row.file.resize(row.file.size() - 100);
        rows.push_back(row);
    }
    {
        CraftedImage row = Row("truncated: SAVEDSKF image shorter than its stored sectors", good,
                               Outcome::kError, kReadError);
        row.file = WrapSavedskf(good.image);
        row.file.resize(row.file.size() - 5000);
        rows.push_back(row);
    }
    return rows;
}

std::vector<CraftedImage> ChainImages() {
    std::vector<CraftedImage> rows;
    {
        GoodImage good = MakeGoodImage();
        // MANUAL: c0 -> c1 -> c0 -> ...; two clusters (2048 bytes) of 3000 can be written.
        SetFatEntry(&good.image, good.manualChain[1], good.manualChain[0]);
        CraftedImage row = Row("FAT chain looping back to its start", good, Outcome::kError,
                               kFileNotCreated);
        row.complete = {"README.TXT"};
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        SetFatEntry(&good.image, good.manualChain[0], good.manualChain[0]);
        CraftedImage row = Row("FAT chain whose first cluster points to itself", good, Outcome::kError,
                               kFileNotCreated);
        row.complete = {"README.TXT"};
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        // A loop behind the file's end is never reached.
        SetFatEntry(&good.image, good.readmeChain[1], good.readmeChain[0]);
        CraftedImage row = Row("FAT chain looping after the file's last cluster", good,
                               Outcome::kSuccess);
        row.complete = AllGoodFiles();
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        // README starts in MANUAL's first cluster: 1300 bytes of MANUAL's clusters.
        PutLe16(good.image.bytes, EntryOffset(good, kRootDirectory, kReadmeSlot) + 26,
                good.manualChain[0]);
        good.truth["README.TXT"] = ChainBytes(good.image, good.manualChain, 1300);
        CraftedImage row = Row("cross-linked files sharing a whole chain", good, Outcome::kSuccess);
        row.complete = AllGoodFiles();
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        // README's first cluster goes on into MANUAL's second one.
        SetFatEntry(&good.image, good.readmeChain[0], good.manualChain[1]);
        good.truth["README.TXT"] =
            ChainBytes(good.image, {good.readmeChain[0], good.manualChain[1]}, 1300);
        CraftedImage row = Row("cross-linked files sharing a tail", good, Outcome::kSuccess);
        row.complete = AllGoodFiles();
        rows.push_back(row);
    }
    // The last cluster of a 720 KB diskette: 713 clusters, numbered 2 to 714.
    const struct {
        const char* name;
        std::uint16_t cluster;
    } firstClusters[] = {
        {"first cluster 0 with a size", 0},
        {"first cluster 1", 1},
        {"first cluster one beyond the last", 715},
        {"first cluster far beyond the last", 0xFF0},
        {"first cluster a bad-cluster mark", 0xFF7},
        {"first cluster an end mark", 0xFFF},
    };
    for (const auto& first : firstClusters) {
        GoodImage good = MakeGoodImage();
        PutLe16(good.image.bytes, EntryOffset(good, good.docs, kManualSlot) + 26, first.cluster);
        CraftedImage row = Row(first.name, good, Outcome::kError, kFileNotCreated);
        row.complete = {"README.TXT"};
        rows.push_back(row);
    }
    const struct {
        const char* name;
        std::uint16_t next;
    } nextClusters[] = {
        {"chain going on at cluster 0 (free)", 0},
        {"chain going on at cluster 1", 1},
        {"chain going on beyond the last cluster", 715},
        {"chain going on at a bad-cluster mark", 0xFF7},
    };
    for (const auto& next : nextClusters) {
        GoodImage good = MakeGoodImage();
        SetFatEntry(&good.image, good.manualChain[0], next.next);
        CraftedImage row = Row(next.name, good, Outcome::kError, kFileNotCreated);
        row.complete = {"README.TXT"};
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        PutLe32(good.image.bytes, EntryOffset(good, good.docs, kManualSlot) + 28, 0xFFFFFFFFu);
        // What the chain holds: three whole clusters, the builder's fill after the text.
        good.truth["DOCS/MANUAL.TXT"] = ChainBytes(good.image, good.manualChain, 3 * 1024);
        CraftedImage row = Row("file size far beyond its chain", good, Outcome::kError, kFileNotCreated);
        row.complete = {"README.TXT"};
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        PutLe32(good.image.bytes, EntryOffset(good, good.docs, kManualSlot) + 28, 3 * 1024 + 1);
        good.truth["DOCS/MANUAL.TXT"] = ChainBytes(good.image, good.manualChain, 3 * 1024);
        CraftedImage row = Row("file size one byte beyond its chain", good, Outcome::kError,
                               kFileNotCreated);
        row.complete = {"README.TXT"};
        rows.push_back(row);
    }
    return rows;
}

std::vector<CraftedImage> DirectoryImages() {
    std::vector<CraftedImage> rows;
    const struct {
        const char* name;
        bool parent;
    } loops[] = {{"directory whose first cluster is itself", false},
                 {"directory whose first cluster is its parent", true}};
    for (const auto& loop : loops) {
        GoodImage good = MakeGoodImage();
        DirectoryEntry entry = FileEntry("LOOP", "", kAttrDirectory);
        entry.firstCluster = loop.parent ? good.docs : good.sub;
        AppendEntry(&good.image, good.sub, entry);
        CraftedImage row = Row(loop.name, good, Outcome::kSuccess);
        row.complete = AllGoodFiles();
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        DirectoryEntry entry = FileEntry("ROOT", "", kAttrDirectory);
        entry.firstCluster = 0;
        AppendEntry(&good.image, good.sub, entry);
        CraftedImage row = Row("directory whose first cluster is 0 (the root)", good, Outcome::kSuccess);
        row.complete = AllGoodFiles();
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        SetFatEntry(&good.image, good.docs, good.docs);
        CraftedImage row = Row("directory whose chain loops onto itself", good, Outcome::kSuccess);
        row.complete = AllGoodFiles();
        rows.push_back(row);
    }
    {
        GoodImage good = MakeGoodImage();
        DirectoryEntry entry = FileEntry("FAR", "", kAttrDirectory);
        entry.firstCluster = 0xFF0;
        AppendEntry(&good.image, good.sub, entry);
        CraftedImage row = Row("directory whose first cluster is beyond the last", good,
                               Outcome::kSuccess);
        row.complete = AllGoodFiles();
        rows.push_back(row);
    }
    return rows;
}

// The good image with the layout field at boot-sector offset changed before
// the image is wrapped (the native header copies the boot sector's fields).
CraftedImage LayoutRow(const std::string& name, std::size_t offset, std::uint16_t value, bool word,
                       Outcome outcome, const std::string& message) {
    GoodImage good = MakeGoodImage();
    if (word) {
        PutLe16(good.image.bytes, offset, value);
    } else {
        good.image.bytes.at(offset) = static_cast<std::uint8_t>(value);
    }
    return Row(name, good, outcome, message);
}

std::vector<CraftedImage> LayoutImages() {
    std::vector<CraftedImage> rows;
    rows.push_back(LayoutRow("root-entry count far beyond the diskette", 17, 0xFFF0, true,
                             Outcome::kEither, kFileNotCreated));
    rows.push_back(LayoutRow("sectors per cluster 0", 13, 0, false, Outcome::kError, kNotHandled));
    rows.push_back(LayoutRow("FAT larger than the diskette", 22, 0xFFFF, true, Outcome::kEither,
                             kFileNotCreated));
    rows.push_back(LayoutRow("reserved sectors beyond the diskette", 14, 0xFFFF, true,
                             Outcome::kEither, kFileNotCreated));
    {
        CraftedImage row = LayoutRow("plain image with a root-entry count far beyond the diskette",
                                     17, 0xFFF0, true, Outcome::kEither, kFileNotCreated);
        GoodImage good = MakeGoodImage();
        PutLe16(good.image.bytes, 17, 0xFFF0);
        row.file = WrapPlain(good.image);
        rows.push_back(row);
    }
    return rows;
}

std::vector<CraftedImage> NameImages() {
    std::vector<CraftedImage> rows;
    // name bytes, extension bytes, the host name when it can be one ("" when refused)
    const struct {
        const char* name;
        std::string stem;
        std::string extension;
        std::string hostName;
    } names[] = {
        {"name holding '/'", "A/B", "TXT", ""},
        {"name holding '/..'", "/..", "", ""},
        {"extension holding '/'", "A", "/", ""},
        {"name holding '\\'", "A\\B", "TXT", ""},
        {"name holding '..\\..'", "..\\..", "", ""},   // a first '.' leaves the entry out
        {"name holding NUL", std::string("A\0B", 3), "TXT", ""},
        {"extension holding NUL", "A", std::string("T\0T", 3), ""},
        {"name '..'", "..", "", ""},
        {"extension '..'", "X", "..", "X..."},
        {"name of control bytes", "\x01\x02\x1B[2J", "\x7F", ""},
        {"name of DEL and brackets", "[\x7F]", "\x7F", "[\x7F].\x7F"},
        {"name of bytes from 0x80 on", "\x81\x9A\xFE\xFF", "\xE1", "\x81\x9A\xFE\xFF.\xE1"},
        {"name starting with 0x05 (0xE5)", "\x05" "ABC", "", "\xE5" "ABC"},
        {"name of spaces only", "", "", ""},
        {"deleted entry", "\xE5" "LOST", "TXT", ""},
    };
    for (const auto& entry : names) {
        GoodImage good = MakeGoodImage();
        // README renamed: the first entry of the walk.
        RenameEntry(&good, kRootDirectory, kReadmeSlot, entry.stem, entry.extension);
        const Bytes content = good.truth["README.TXT"];
        good.truth.erase("README.TXT");
        const bool leftOut = entry.stem.size() > 0 && entry.stem[0] == '.';
        CraftedImage row;
        if (!entry.hostName.empty()) {
            good.truth[entry.hostName] = content;
            row = Row(entry.name, good, Outcome::kSuccess);
            row.complete = AllGoodFiles();
            row.complete.erase(row.complete.begin());
            row.complete.push_back(entry.hostName);
        } else if (leftOut) {
            row = Row(entry.name, good, Outcome::kSuccess);
            row.complete = {"DOCS/MANUAL.TXT", "DOCS/SUB/DEEP.TXT"};
        } else {
            row = Row(entry.name, good, Outcome::kError, kFileNotCreated);
        }
        rows.push_back(row);
    }
    const struct {
        const char* name;
        std::string stem;
        std::string extension;
        std::string hostName;
    } directoryNames[] = {
        {"directory name holding '/'", "D/../..", "", ""},
        {"directory name holding NUL", std::string("D\0S", 3), "", ""},
        {"directory name holding '\\'", "D\\S", "", ""},
        {"directory name of bytes from 0x80 on", "\x80\xFF", "", "\x80\xFF"},
    };
    for (const auto& entry : directoryNames) {
        GoodImage good = MakeGoodImage();
        RenameEntry(&good, kRootDirectory, kDocsSlot, entry.stem, entry.extension);
        CraftedImage row;
        if (!entry.hostName.empty()) {
            std::map<std::string, Bytes> truth;
            for (const auto& [path, bytes] : good.truth) {
                truth[path.rfind("DOCS/", 0) == 0 ? entry.hostName + path.substr(4) : path] = bytes;
            }
            good.truth = truth;
            row = Row(entry.name, good, Outcome::kSuccess);
            row.complete = {"README.TXT", entry.hostName + "/MANUAL.TXT",
                            entry.hostName + "/SUB/DEEP.TXT"};
        } else {
            row = Row(entry.name, good, Outcome::kError, kFileNotCreated);
            row.message = "Directory ../out/D";   // the name as far as it can be shown
            row.complete = {"README.TXT"};
        }
        rows.push_back(row);
    }
    return rows;
}

// TOP.TXT in the root, then 200 directories D/D/.../D, the last holding BOTTOM.TXT.
GoodImage NestedImage() {
    GoodImage good;
    good.image = FormatImage(StandardLayout(DisketteSize::k720), "NESTED");
    good.truth["TOP.TXT"] = Pattern(100, 7);
    AddFile(&good.image, kRootDirectory, FileEntry("TOP", "TXT"), good.truth["TOP.TXT"]);
    std::uint16_t directory = kRootDirectory;
    for (int level = 0; level < 200; ++level) {
        directory = AddDirectory(&good.image, directory, FileEntry("D", "", 0));
    }
    const Bytes bottom = Pattern(50, 8);
    AddFile(&good.image, directory, FileEntry("BOTTOM", "TXT"), bottom);
    good.truth["BOTTOM.TXT"] = bottom;   // only with -j does it land in a path that fits
    return good;
}

std::vector<CraftedImage> NestingImages() {
    std::vector<CraftedImage> rows;
    {
        // The message names the destination as far as it fits.
        CraftedImage row = Row("200 nested directories", NestedImage(), Outcome::kError,
                               "File '../out/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/D/");
        row.complete = {"TOP.TXT"};
        rows.push_back(row);
    }
    {
        CraftedImage row = Row("200 nested directories, junk paths", NestedImage(), Outcome::kSuccess);
        row.switches = {"-j"};
        row.complete = {"TOP.TXT", "BOTTOM.TXT"};
        rows.push_back(row);
    }
    return rows;
}

Bytes ReadWholeFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool IsPrefix(const Bytes& prefix, const Bytes& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

// A directory of the test's own, removed with everything in it.
class Sandbox {
public:
    Sandbox() {
        std::string pattern = ::testing::TempDir() + "crafted.XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (made != nullptr) root_ = made;
    }
    ~Sandbox() {
        std::error_code ignored;
        if (!root_.empty()) fs::remove_all(root_, ignored);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    const fs::path& Root() const { return root_; }

private:
    fs::path root_;
};

void RunCraftedImage(const CraftedImage& row) {
    Sandbox sandbox;
    ASSERT_FALSE(sandbox.Root().empty());
    const fs::path image = sandbox.Root() / "image.img";
    const fs::path output = sandbox.Root() / "out";
    const fs::path working = sandbox.Root() / "cwd";
    {
        std::ofstream stream(image, std::ios::binary);
        stream.write(reinterpret_cast<const char*>(row.file.data()),
                     static_cast<std::streamsize>(row.file.size()));
        ASSERT_TRUE(stream.good());
    }
    fs::create_directory(output);
    fs::create_directory(working);

    std::vector<std::string> arguments = {kTimeoutProgram, "-k", "5", kTimeLimit, IMGEXTRACT_PATH};
    arguments.insert(arguments.end(), row.switches.begin(), row.switches.end());
    // Relative paths: a leading "/" would make an argument a switch.
    arguments.insert(arguments.end(), {"../image.img", "-d", "../out"});
    ChildOptions options;
    options.workingDirectory = working.string();
    options.environment = {"LC_ALL=C"};   // names pass to the host byte for byte
    const ChildResult result = RunProgram(arguments, options);
    SCOPED_TRACE("output:\n" + result.output);

    ASSERT_EQ(result.signal, 0);
    ASSERT_TRUE(result.exitCode == 0 || result.exitCode == 3) << "exit code " << result.exitCode;
    if (row.outcome == Outcome::kSuccess) {
        EXPECT_EQ(result.exitCode, 0);
    }
    if (row.outcome == Outcome::kError) {
        EXPECT_EQ(result.exitCode, 3);
    }
    if (result.exitCode == 3) {
        EXPECT_NE(result.output.find(row.message), std::string::npos) << "message " << row.message;
    }

    // Nothing beside the image, the extraction directory and the (empty) working directory.
    std::vector<std::string> top;
    for (const fs::directory_entry& entry : fs::directory_iterator(sandbox.Root())) {
        top.push_back(entry.path().filename().string());
    }
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"cwd", "image.img", "out"}));
    EXPECT_TRUE(fs::is_empty(working));

    int shortFiles = 0;
    std::map<std::string, bool> found;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(output)) {
        const std::string path = entry.path().lexically_relative(output).string();
        const fs::file_status status = entry.symlink_status();
        if (fs::is_directory(status)) continue;
        EXPECT_TRUE(fs::is_regular_file(status)) << path;
        const auto truth = row.truth.find(path);
        if (truth == row.truth.end()) {
            ADD_FAILURE() << "unexpected file " << path;
            continue;
        }
        const Bytes bytes = ReadWholeFile(entry.path());
        EXPECT_TRUE(IsPrefix(bytes, truth->second)) << path << ": " << bytes.size() << " bytes";
        if (bytes.size() < truth->second.size()) {
            ++shortFiles;
        } else {
            found[path] = true;
        }
    }
    EXPECT_LE(shortFiles, result.exitCode == 0 ? 0 : 1);
    for (const std::string& path : row.complete) {
        EXPECT_TRUE(found.count(path) != 0) << "missing or short " << path;
    }
}

void RunRows(const std::vector<CraftedImage>& rows) {
    for (const CraftedImage& row : rows) {
        SCOPED_TRACE(row.name);
        RunCraftedImage(row);
    }
}

TEST(CraftedImages, GoodImageIsExtractedInFull) {
    CraftedImage row = Row("good image", MakeGoodImage(), Outcome::kSuccess);
    row.complete = AllGoodFiles();
    RunRows({row});
}

TEST(CraftedImages, TruncatedImagesAreRefusedBeforeAnyFileIsWritten) { RunRows(TruncatedImages()); }

TEST(CraftedImages, BrokenChainsEndFilesWithAnErrorOrGiveTheSharedBytes) { RunRows(ChainImages()); }

TEST(CraftedImages, LoopingDirectoriesEndWithoutHanging) { RunRows(DirectoryImages()); }

TEST(CraftedImages, ImpossibleLayoutsEndInAMessageOrAnEmptyRun) { RunRows(LayoutImages()); }

TEST(CraftedImages, NamesThatCannotBeHostNamesAreRefused) { RunRows(NameImages()); }

TEST(CraftedImages, DeeplyNestedDirectoriesStayInsideTheExtractionDirectory) {
    RunRows(NestingImages());
}

}  // namespace
