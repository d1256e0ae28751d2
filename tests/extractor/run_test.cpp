// Tests of the whole run of imgextract: reading the image, the listing, the
// selection by include and exclude lists, and how a run ends.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/support/image_builder.h"

namespace {

const std::string kInfoLine1440 =
    "Diskette: NO NAME    , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n";
const std::string kNothingFound = "No corresponding files found.\n";

// The lines before the entries of a run in the C locale: dates of 10 and
// times of 5 characters give columns of 9, 10, 5, 4 and 12, two spaces apart.
const std::string kListingHeader =
    "Size       Date        Time   Att.  Name        \n"
    "---------  ----------  -----  ----  ------------\n";

// A native image stored sparse, with its CRC.
std::vector<std::uint8_t> SparseWithCrc(const FatImage& image) {
    NativeOptions options;
    options.sparse = true;
    options.withCrc = true;
    return WrapNative(image, options);
}

// Runs imgextract in a temporary directory holding the image as disk.img.
ChildResult RunOnImage(const TempDirectory& temp, const std::vector<std::uint8_t>& file,
                       const std::vector<std::string>& arguments, const std::string& input = "") {
    WriteBytes(temp / "disk.img", file);
    return RunExtractor(arguments, input, temp.Path());
}

// The names column of the listing lines of a run (everything after the
// header; the name starts after 9 + 2 + 10 + 2 + 5 + 2 + 4 + 2 = 36
// characters in the C locale).
std::vector<std::string> ListedPaths(const std::string& output) {
    std::vector<std::string> paths;
    const std::size_t header = output.find(kListingHeader);
    if (header == std::string::npos) return paths;
    std::size_t start = header + kListingHeader.size();
    while (start < output.size()) {
        const std::size_t end = output.find("\n", start);
        if (end == std::string::npos) break;
        const std::string line = output.substr(start, end - start);
        paths.push_back(line.size() > 36 ? line.substr(36) : "(short line: " + line + ")");
        start = end + 1;
    }
    return paths;
}

TEST(ExtractorRun, ListsASmallImageByteForByteInTheCLocale) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "BOOTLABEL");
    AppendEntry(&image, kRootDirectory, VolumeLabelEntry("MY DISK"));
    DirectoryEntry readme = FileEntry("README", "TXT", kAttrArchive | kAttrReadOnly);
    readme.date = DosDate(1998, 12, 31);
    readme.time = DosTime(23, 59, 58);
    readme.size = 1234567;   // the listing shows the entry's size; no data needed
    AppendEntry(&image, kRootDirectory, readme);
    DirectoryEntry dir = FileEntry("DIR", "", 0);
    dir.date = DosDate(1980, 1, 1);
    dir.time = DosTime(0, 0, 0);
    const std::uint16_t dirCluster = AddDirectory(&image, kRootDirectory, dir);
    DirectoryEntry sub = FileEntry("SUB", "DAT", kAttrArchive | kAttrSystem | kAttrHidden);
    sub.date = DosDate(2000, 2, 29);
    sub.time = DosTime(12, 34, 56);
    AddFile(&image, dirCluster, sub, {});
    DirectoryEntry deleted = FileEntry("\xE5" "ONE", "TXT");
    deleted.date = DosDate(2107, 12, 31);
    deleted.time = DosTime(0, 1, 0);
    AddFile(&image, kRootDirectory, deleted, PatternBytes(42, 1));
    TempDirectory temp;
    const ChildResult result = RunOnImage(temp, SparseWithCrc(image),
                                          {"-v", "disk.img"});
    EXPECT_EQ(result.exitCode, 0);
    // The root's label entry names the diskette (padded to 11), not the boot
    // sector's. Month/day/year with "/", 24-hour clock, no thousands separator;
    // attributes in the order archive, read-only, system, hidden.
    EXPECT_EQ(result.output,
              kBanner + "Reading image file disk.img ...\n" +
                  "Diskette: MY DISK    , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n" +
                  kListingHeader +
                  "  1234567  12/31/1998  23:59  AR--  README.TXT\n"
                  "    <DIR>  01/01/1980  00:00  ----  DIR\n"
                  "        0  02/29/2000  12:34  A-SH  DIR\\SUB.DAT\n"
                  "       42  12/31/2107  00:01  A---  ?ONE.TXT\n");
}

TEST(ExtractorRun, ReadsEveryImageFormat) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));
    struct Row {
        const char* name;
        std::vector<std::uint8_t> file;
    };
    const Row rows[] = {
        {"native", WrapNative(image)},
        {"native, sparse with CRC", SparseWithCrc(image)},
        {"SAVEDSKF", WrapSavedskf(image)},
        {"plain", WrapPlain(image)},
        {"eight-byte header", WrapEightByteHeader(image)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory temp;
        ASSERT_EQ(mkdir((temp / "out").c_str(), 0777), 0);
        const ChildResult result = RunOnImage(temp, row.file, {"disk.img", "-d", "out"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output, kBanner + "Reading image file disk.img ...\n" + kInfoLine1440 +
                                     "out/A.TXT created.\n");
        EXPECT_EQ(ReadText(temp / "out/A.TXT"), "a");
    }
}

// Root: README.TXT, MAIN.EXE, DIR, DOCS; DIR: README.TXT, DATA.DAT, SUB;
// DIR\SUB: README.TXT, TOOL.EXE; DOCS: GUIDE.TXT.
FatImage SelectionImage() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("README", "TXT"), TextBytes("r"));
    AddFile(&image, kRootDirectory, FileEntry("MAIN", "EXE"), TextBytes("m"));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    AddFile(&image, dir, FileEntry("README", "TXT"), TextBytes("dr"));
    AddFile(&image, dir, FileEntry("DATA", "DAT"), TextBytes("dd"));
    const std::uint16_t sub = AddDirectory(&image, dir, FileEntry("SUB", ""));
    AddFile(&image, sub, FileEntry("README", "TXT"), TextBytes("sr"));
    AddFile(&image, sub, FileEntry("TOOL", "EXE"), TextBytes("st"));
    const std::uint16_t docs = AddDirectory(&image, kRootDirectory, FileEntry("DOCS", ""));
    AddFile(&image, docs, FileEntry("GUIDE", "TXT"), TextBytes("g"));
    return image;
}

TEST(ExtractorRunSelection, TakesTheEntriesTheIncludeAndExcludeListsDescribe) {
    struct Row {
        const char* name;
        std::vector<std::string> patterns;   // after the image file name
        std::vector<std::string> listed;     // empty: nothing selected
    };
    const std::vector<Row> rows = {
        {"no list selects everything",
         {},
         {"README.TXT", "MAIN.EXE", "DIR", "DIR\\README.TXT", "DIR\\DATA.DAT", "DIR\\SUB",
          "DIR\\SUB\\README.TXT", "DIR\\SUB\\TOOL.EXE", "DOCS", "DOCS\\GUIDE.TXT"}},
        // Match paths: "\README.TXT" in the root, "DIR\README.TXT" below it.
        {"a bare name matches no path", {"README.TXT"}, {}},
        {"a star before the name matches it everywhere",
         {"*README.TXT"},
         {"README.TXT", "DIR\\README.TXT", "DIR\\SUB\\README.TXT"}},
        {"a backslash before the name matches it in the root", {"\\README.TXT"}, {"README.TXT"}},
        {"a full path from the root names one entry", {"DIR\\SUB\\README.TXT"},
         {"DIR\\SUB\\README.TXT"}},
        {"an extension pattern matches in every directory",
         {"*.txt"},
         {"README.TXT", "DIR\\README.TXT", "DIR\\SUB\\README.TXT", "DOCS\\GUIDE.TXT"}},
        {"letters match in either case", {"dir\\Sub\\tool.EXE"}, {"DIR\\SUB\\TOOL.EXE"}},
        // Only a root entry's match path begins with "\".
        {"a leading backslash before a deeper path", {"\\DIR\\SUB\\TOOL.EXE"}, {}},
        // Neither DIR nor SUB matches, yet what they hold is examined.
        {"unselected directories are still walked", {"*.EXE"},
         {"MAIN.EXE", "DIR\\SUB\\TOOL.EXE"}},
        {"the contents of a directory, not the directory",
         {"DIR\\*"},
         {"DIR\\README.TXT", "DIR\\DATA.DAT", "DIR\\SUB", "DIR\\SUB\\README.TXT",
          "DIR\\SUB\\TOOL.EXE"}},
        {"several include patterns, in walk order",
         {"\\DOCS", "*.EXE"},
         {"MAIN.EXE", "DIR\\SUB\\TOOL.EXE", "DOCS"}},
        {"include then exclude", {"*.TXT", "-x", "DIR\\*"}, {"README.TXT", "DOCS\\GUIDE.TXT"}},
        {"exclude list only",
         {"-x", "*.TXT", "*.EXE"},
         {"DIR", "DIR\\DATA.DAT", "DIR\\SUB", "DOCS"}},
        // "-d" and its directory stand in the exclude list and match nothing
        // (a match path always holds a "\").
        {"the help text's example",
         {"*.d*", "*.exe", "-x", "*.dat", "*.ddd", "-d", "elsewhere"},
         {"MAIN.EXE", "DIR\\SUB\\TOOL.EXE"}},
        {"an exclude pattern that matches everything", {"*", "-x", "*"}, {}},
        {"an escaped question mark is a literal one", {"*/?*"}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory temp;
        std::vector<std::string> arguments = {"-v", "disk.img"};
        arguments.insert(arguments.end(), row.patterns.begin(), row.patterns.end());
        const ChildResult result = RunOnImage(temp, WrapNative(SelectionImage()), arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(ListedPaths(result.output), row.listed) << result.output;
        if (row.listed.empty()) {
            EXPECT_EQ(AfterInfoLine(result.output), kNothingFound);
        } else {
            EXPECT_EQ(result.output.find(kNothingFound), std::string::npos);
        }
    }
}

TEST(ExtractorRunSelection, TurnsPatternsTypedInUtf8IntoCodePage437) {
    // 0x81 is u umlaut (UTF-8 C3 BC), 0x94 o umlaut (C3 B6); the euro sign
    // (E2 82 AC) has no code page 437 form, and a lone FC is no UTF-8.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("\x81" "BER", "TXT"), TextBytes("u"));
    AddFile(&image, kRootDirectory, FileEntry("GR\x94" "SSE", "TXT"), TextBytes("o"));
    AddFile(&image, kRootDirectory, FileEntry("PLAIN", "TXT"), TextBytes("p"));
    struct Row {
        const char* name;
        const char* locale;
        std::vector<std::string> patterns;
        std::vector<std::string> listed;   // as the listing writes them into a pipe
    };
    const std::vector<Row> rows = {
        {"u umlaut typed in UTF-8", "C.UTF-8", {"*\xC3\xBC*"}, {"\x81" "BER.TXT"}},
        {"in the exclude list too", "C.UTF-8", {"-x", "*\xC3\xBC*"},
         {"GR\x94SSE.TXT", "PLAIN.TXT"}},
        // The range 0x81 to 0x94: each bound is one character.
        {"a range between the umlauts", "C.UTF-8", {"*<\xC3\xBC-\xC3\xB6>*"},
         {"\x81" "BER.TXT", "GR\x94SSE.TXT"}},
        {"a character code page 437 lacks", "C.UTF-8", {"*\xE2\x82\xAC*"}, {}},
        {"no UTF-8 at all", "C.UTF-8", {"*\xFC*"}, {}},
        {"C locale: bytes as they are", "C", {"*\x81*"}, {"\x81" "BER.TXT"}},
        {"C locale: UTF-8 bytes are no name's", "C", {"*\xC3\xBC*"}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory temp;
        WriteBytes(temp / "disk.img", WrapNative(image));
        std::vector<std::string> command = {"/usr/bin/timeout", "20", IMGEXTRACT_PATH, "-v",
                                            "disk.img"};
        command.insert(command.end(), row.patterns.begin(), row.patterns.end());
        ChildOptions options;
        options.environment = {std::string("LC_ALL=") + row.locale};
        options.workingDirectory = temp.Path();
        const ChildResult result = RunProgram(command, options);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(ListedPaths(result.output), row.listed) << result.output;
        if (row.listed.empty()) {
            EXPECT_EQ(AfterInfoLine(result.output), kNothingFound);
        }
    }
}

TEST(ExtractorRunSelection, LeavesDeletedEntriesOutWithAnEscapedQuestionMark) {
    // Deleted entries show a "?" for their first byte 0xE5; the files of a
    // deleted directory show its stored name, 0xE5 first, in their path.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("\xE5" "OO", "TXT"), TextBytes("f"));
    AddFile(&image, kRootDirectory, FileEntry("BAR", "TXT"), TextBytes("b"));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    AddFile(&image, dir, FileEntry("\xE5" "OO", "TXT"), TextBytes("f"));
    AddFile(&image, dir, FileEntry("BAR", "TXT"), TextBytes("b"));
    const std::uint16_t old = AddDirectory(&image, kRootDirectory, FileEntry("\xE5" "LD", ""));
    AddFile(&image, old, FileEntry("KEPT", "TXT"), TextBytes("k"));
    struct Row {
        const char* name;
        std::vector<std::string> patterns;
        std::vector<std::string> listed;
    };
    const std::vector<Row> rows = {
        {"everything", {}, {"?OO.TXT", "BAR.TXT", "DIR", "DIR\\?OO.TXT", "DIR\\BAR.TXT", "?LD",
                            "\xE5LD\\KEPT.TXT"}},
        {"a \"?\" anywhere", {"-x", "*/?*"},
         {"BAR.TXT", "DIR", "DIR\\BAR.TXT", "\xE5LD\\KEPT.TXT"}},
        {"a \"?\" after a backslash", {"-x", "*\\/?*"},
         {"BAR.TXT", "DIR", "DIR\\BAR.TXT", "\xE5LD\\KEPT.TXT"}},
        {"and the contents of deleted directories", {"-x", "*/?*", "\xE5*", "*\\\xE5*"},
         {"BAR.TXT", "DIR", "DIR\\BAR.TXT"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory temp;
        std::vector<std::string> arguments = {"-v", "disk.img"};
        arguments.insert(arguments.end(), row.patterns.begin(), row.patterns.end());
        const ChildResult result = RunOnImage(temp, WrapNative(image), arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(ListedPaths(result.output), row.listed);
    }
}

TEST(ExtractorRunSelection, ExtractsOnlyTheSelectedFiles) {
    TempDirectory temp;
    ASSERT_EQ(mkdir((temp / "out").c_str(), 0777), 0);
    const ChildResult result = RunOnImage(temp, WrapNative(SelectionImage()),
                                          {"disk.img", "*readme*", "-x", "\\*", "-d", "out"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(AfterInfoLine(result.output),
              "out/DIR/README.TXT created.\nout/DIR/SUB/README.TXT created.\n");
    EXPECT_EQ(TreeBelow(temp / "out"),
              (std::set<std::string>{"DIR/", "DIR/README.TXT", "DIR/SUB/", "DIR/SUB/README.TXT"}));
    EXPECT_EQ(ReadText(temp / "out/DIR/SUB/README.TXT"), "sr");
}

TEST(ExtractorRun, SaysSoWhenNothingIsFound) {
    struct Row {
        const char* name;
        bool withLabel;
        std::vector<std::string> arguments;
    };
    const Row rows[] = {
        {"empty root, listing", false, {"-v", "disk.img"}},
        {"empty root, extracting", false, {"disk.img", "-d", "out"}},
        {"root with only a label", true, {"-v", "disk.img"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        if (row.withLabel) AppendEntry(&image, kRootDirectory, VolumeLabelEntry("NO NAME"));
        TempDirectory temp;
        ASSERT_EQ(mkdir((temp / "out").c_str(), 0777), 0);
        const ChildResult result = RunOnImage(temp, WrapNative(image), row.arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output,
                  kBanner + "Reading image file disk.img ...\n" + kInfoLine1440 + kNothingFound);
        EXPECT_TRUE(TreeBelow(temp / "out").empty());
    }
}

TEST(ExtractorRun, ReportsAnImageFileItCannotOpen) {
    struct Row {
        const char* name;
        const char* imageFile;
    };
    const Row rows[] = {
        {"no such file", "missing.img"},
        {"a directory", "folder"},
        // Nobody writes to it: opening it for reading would wait for ever.
        {"a FIFO", "pipe"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory temp;
        ASSERT_EQ(mkdir((temp / "folder").c_str(), 0777), 0);
        ASSERT_EQ(mkfifo((temp / "pipe").c_str(), 0666), 0);
        const ChildResult result = RunExtractor({"-v", row.imageFile}, "", temp.Path());
        EXPECT_EQ(result.exitCode, 3) << "124: the run hung";
        EXPECT_EQ(result.output,
                  kBanner + "Reading image file " + row.imageFile + " ...\n" +
                      ErrorText(std::string("Image data of '") + row.imageFile +
                                "' could not be accessed."));
    }
}

TEST(ExtractorRun, EndsWithTheReadersMessageForATruncatedImage) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));
    // A plain image of 100 KB where 1440 KB belong: track 0 is there, so the
    // info line comes, then the reader fails on a later track side.
    std::vector<std::uint8_t> file = WrapPlain(image);
    file.resize(100 * 1024);
    TempDirectory temp;
    ASSERT_EQ(mkdir((temp / "out").c_str(), 0777), 0);
    const ChildResult result = RunOnImage(temp, file, {"disk.img", "-d", "out"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.output,
              kBanner + "Reading image file disk.img ...\n" + kInfoLine1440 +
                  ErrorText("Error while reading image data from 'disk.img'.", 30) + kNothingFound);
    EXPECT_TRUE(TreeBelow(temp / "out").empty());
}

TEST(ExtractorRun, RefusesAVolumeWithMoreClustersThanFat12Has) {
    // Clusters = (total sectors - data start) / sectors per cluster; FAT12
    // has at most 4084, more means 16-bit FAT entries.
    struct Row {
        const char* name;
        DisketteLayout layout;
        bool refused;
    };
    DisketteLayout fat16 = StandardLayout(DisketteSize::k2880);
    fat16.sectorsPerCluster = 1;
    fat16.sectorsPerFat = 23;   // 5700 entries of 2 bytes
    const Row rows[] = {
        // Data start 1 + 2 x 23 + 15 = 62: 5760 - 62 = 5698 clusters.
        {"2.88 MB with one sector per cluster", fat16, true},
        // Data start 1 + 2 x 12 + 14 = 39 (4086 12-bit entries take 12
        // sectors); 4123 - 39 = 4084 clusters, then 4085. 31 sectors per
        // track on one side: 133 tracks, the last sector of 4124 left over.
        {"4084 clusters", {512, 1, 1, 2, 224, 4123, 0xF0, 12, 31, 1}, false},
        {"4085 clusters", {512, 1, 1, 2, 224, 4124, 0xF0, 12, 31, 1}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(row.layout);
        AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));
        TempDirectory temp;
        ASSERT_EQ(mkdir((temp / "out").c_str(), 0777), 0);
        for (const char* mode : {"-v", "-o"}) {
            SCOPED_TRACE(mode);
            const ChildResult result =
                RunOnImage(temp, WrapNative(image), {mode, "disk.img", "-d", "out"});
            if (row.refused) {
                EXPECT_EQ(result.exitCode, 3);
                EXPECT_EQ(AfterInfoLine(result.output),
                          ErrorText("'disk.img' contains image data which can not be handled.") +
                              kNothingFound);
                EXPECT_TRUE(TreeBelow(temp / "out").empty());
            } else if (mode == std::string("-v")) {
                EXPECT_EQ(result.exitCode, 0);
                EXPECT_NE(result.output.find("  A.TXT\n"), std::string::npos) << result.output;
            } else {
                EXPECT_EQ(result.exitCode, 0);
                EXPECT_EQ(ReadText(temp / "out/A.TXT"), "a");
            }
        }
    }
}

TEST(ExtractorRun, StopsTheWalkAtTheFirstFailedEntry) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    AddFile(&image, dir, FileEntry("FIRST", "TXT"), TextBytes("1"));
    AddFile(&image, dir, FileEntry("\xE5" "ONE", "TXT"), TextBytes("2"));
    AddFile(&image, dir, FileEntry("THIRD", "TXT"), TextBytes("3"));
    AddFile(&image, kRootDirectory, FileEntry("LAST", "TXT"), TextBytes("4"));
    TempDirectory temp;
    ASSERT_EQ(mkdir((temp / "out").c_str(), 0777), 0);
    const ChildResult result = RunOnImage(temp, WrapNative(image), {"disk.img", "-d", "out"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(AfterInfoLine(result.output),
              "out/DIR/FIRST.TXT created.\n" +
                  ErrorText("File 'out/DIR/?ONE.TXT' could not be created.", 110));
    EXPECT_EQ(TreeBelow(temp / "out"), (std::set<std::string>{"DIR/", "DIR/FIRST.TXT"}));
}

TEST(ExtractorRun, ExtractsIntoTheCurrentDirectoryWithoutD) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));
    TempDirectory temp;
    WriteBytes(temp / "disk.img", WrapNative(image));
    ASSERT_EQ(mkdir((temp / "work").c_str(), 0777), 0);
    const ChildResult result = RunExtractor({"../disk.img"}, "", temp / "work");
    EXPECT_EQ(result.exitCode, 0);
    // The default extraction directory is the current one, as an absolute path.
    char real[4096];
    ASSERT_NE(realpath((temp / "work").c_str(), real), nullptr);
    EXPECT_EQ(AfterInfoLine(result.output), std::string(real) + "/A.TXT created.\n");
    EXPECT_EQ(ReadText(temp / "work/A.TXT"), "a");
}

// Runs imgextract in directory with its output into a pipe that the test
// closes once the first line has come, and only then writes input: the run
// waits for it at an overwrite prompt, so everything it writes after the
// prompt goes into a pipe without a reader. A run that takes more than 20
// seconds is killed.
ChildResult RunWithReaderGone(const std::vector<std::string>& arguments, const std::string& input,
                              const std::string& directory) {
    ChildResult result;
    int outputPipe[2];
    int inputPipe[2];
    if (pipe(outputPipe) != 0 || pipe(inputPipe) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        // The test's own disposition of SIGPIPE must not decide the outcome.
        signal(SIGPIPE, SIG_DFL);
        dup2(inputPipe[0], 0);
        dup2(outputPipe[1], 1);
        close(inputPipe[0]);
        close(inputPipe[1]);
        close(outputPipe[0]);
        close(outputPipe[1]);
        if (chdir(directory.c_str()) != 0) _exit(125);
        setenv("LC_ALL", "C", 1);
        std::vector<char*> vector = {const_cast<char*>(IMGEXTRACT_PATH)};
        for (const std::string& argument : arguments) {
            vector.push_back(const_cast<char*>(argument.c_str()));
        }
        vector.push_back(nullptr);
        execv(vector[0], vector.data());
        _exit(127);
    }
    close(inputPipe[0]);
    close(outputPipe[1]);
    char byte = 0;
    while (byte != '\n' && read(outputPipe[0], &byte, 1) == 1) result.output += byte;
    close(outputPipe[0]);
    // A run that ended early must not end the test with it.
    void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
    if (write(inputPipe[1], input.data(), input.size()) < 0) result.output += "[input refused]";
    close(inputPipe[1]);
    signal(SIGPIPE, previous);
    int status = 0;
    for (int wait = 0; waitpid(child, &status, WNOHANG) == 0; ++wait) {
        if (wait == 2000) kill(child, SIGKILL);
        usleep(10 * 1000);
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

TEST(ExtractorRun, GoesOnToItsEndWhenTheReaderOfItsOutputHasGone) {
    // A.TXT exists, so the run stops at its prompt until the answer "y" comes.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("new a"));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    AddFile(&image, dir, FileEntry("B", "TXT"), TextBytes("b"));
    AddFile(&image, kRootDirectory, FileEntry("C", "TXT"), PatternBytes(5000, 3));
    TempDirectory temp;
    WriteBytes(temp / "disk.img", WrapNative(image));
    ASSERT_EQ(mkdir((temp / "out").c_str(), 0777), 0);
    WriteText(temp / "out/A.TXT", "old");
    const ChildResult result = RunWithReaderGone({"disk.img", "-d", "out"}, "y\n", temp.Path());
    EXPECT_EQ(result.output, "VELMORATRAX's image file extractor for Windows NT\n");
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadText(temp / "out/A.TXT"), "new a");
    EXPECT_EQ(ReadText(temp / "out/DIR/B.TXT"), "b");
    EXPECT_EQ(ReadBytes(temp / "out/C.TXT"), PatternBytes(5000, 3));
}

TEST(ExtractorRun, GivesTheTerminalItsColoursBackAfterANameThatChangedThem) {
    // A stored name may hold an ESC pair: ESC 0x5F turns the listing bright
    // white on magenta ("\x1b[0;97;45m") from "AB.TXT" on, Z.TXT included.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("\x1b\x5F" "AB", "TXT"), TextBytes("a"));
    AddFile(&image, kRootDirectory, FileEntry("Z", "TXT"), TextBytes("z"));
    TempDirectory temp;
    WriteBytes(temp / "disk.img", WrapNative(image));
    ChildOptions options;
    options.terminal = true;
    options.environment = {"LC_ALL=C"};
    options.workingDirectory = temp.Path();
    const ChildResult result = RunProgram({IMGEXTRACT_PATH, "-v", "disk.img"}, options);
    EXPECT_EQ(result.exitCode, 0);
    const std::size_t coloured = result.output.find("  \x1b[0;97;45mAB.TXT\n");
    ASSERT_NE(coloured, std::string::npos) << result.output;
    const std::size_t last = result.output.find("  Z.TXT\n", coloured);
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(result.output.substr(last), "  Z.TXT\n\x1b[0m");
}

}  // namespace
