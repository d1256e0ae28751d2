// Tests of extracting entries through the program: file contents, directories,
// times, read-only, the overwrite decision and its prompt, and the names and
// places the extractor must refuse.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/support/image_builder.h"

namespace {

// A temporary directory with the image file disk.img and the extraction
// directory out in it.
class ExtractionPlace {
public:
    explicit ExtractionPlace(const FatImage& image) {
        WriteBytes(Image(), WrapNative(image));
        EXPECT_EQ(mkdir(Out().c_str(), 0777), 0);
    }
    std::string Image() const { return temp / "disk.img"; }
    std::string Out() const { return temp / "out"; }
    std::string Out(const std::string& relative) const { return Out() + "/" + relative; }
    // A path below out as the program shows it: it runs in the temporary
    // directory with "-d out".
    static std::string Shown(const std::string& relative) { return "out/" + relative; }
    // Runs imgextract on the image with the extraction directory out. The
    // paths are relative: an argument starting with "/" is a switch.
    ChildResult Run(const std::vector<std::string>& options = {}, const std::string& input = "",
                    const std::string& extractionDirectory = "out") const {
        std::vector<std::string> arguments = options;
        arguments.push_back("disk.img");
        arguments.push_back("-d");
        arguments.push_back(extractionDirectory);
        return RunExtractor(arguments, input, temp.Path());
    }

    TempDirectory temp;
};

std::string Created(const std::string& path) { return path + " created.\n"; }
std::string Replaced(const std::string& path) { return path + " replaced.\n"; }
std::string Skipped(const std::string& name) { return name + " skipped.\n"; }
std::string Prompt(const std::string& path) {
    return path + " replace? [y]es [n]o [A]ll [N]one: ";
}

// Adds a file whose data lies in the given clusters, in that order.
void AddFileInClusters(FatImage* image, std::uint16_t directory, DirectoryEntry entry,
                       const std::vector<std::uint16_t>& clusters,
                       const std::vector<std::uint8_t>& content) {
    LinkChain(image, clusters);
    WriteChainData(image, clusters, content);
    entry.firstCluster = clusters.front();
    entry.size = static_cast<std::uint32_t>(content.size());
    AppendEntry(image, directory, entry);
}

TEST(FileExtraction, WritesFilesOfEverySizeClassWhole) {
    struct Row {
        const char* name;
        const char* file;                    // 8.3 name part, extension DAT
        std::size_t size;
        std::vector<std::uint16_t> clusters;   // empty: allocated in order by the builder
    };
    struct Layout {
        const char* name;
        DisketteSize size;
        std::vector<Row> rows;
    };
    const std::vector<Layout> layouts = {
        {"1.44 MB, clusters of 512 bytes",
         DisketteSize::k1440,
         {
             {"empty file", "EMPTY", 0, {}},
             {"one byte", "ONE", 1, {}},
             {"one byte short of a cluster", "C511", 511, {}},
             {"exactly one cluster", "C512", 512, {}},
             {"exactly two clusters", "C1024", 1024, {}},
             {"one byte into a third cluster", "C1025", 1025, {}},
             {"exactly ten clusters", "C5120", 5120, {}},
             {"79 clusters, the last one partly", "BIG", 40000, {}},
             // The files above take clusters 2 to 98 in order (1 + 1 + 1 + 2 + 3 + 10
             // + 79); the fragmented ones lie beyond them.
             // 1300 = 512 + 512 + 276: clusters 300, 200, 250, backwards and apart.
             {"fragmented, scattered clusters", "FRAG1", 1300, {300, 200, 250}},
             // 2560 = 5 x 512: two contiguous runs, the later one first.
             {"fragmented, two runs, exact multiple", "FRAG2", 2560, {130, 131, 110, 111, 112}},
         }},
        {"720 KB, clusters of 1024 bytes",
         DisketteSize::k720,
         {
             {"one byte short of a cluster", "C1023", 1023, {}},
             {"exactly one cluster", "C1024", 1024, {}},
             {"exactly three clusters", "C3072", 3072, {}},
             {"one byte into a fourth cluster", "C3073", 3073, {}},
             // 2500 = 1024 + 1024 + 452 in clusters 400, 399, 398.
             {"fragmented backwards", "FRAG", 2500, {400, 399, 398}},
         }},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        FatImage image = FormatImage(StandardLayout(layout.size));
        unsigned seed = 0;
        for (const Row& row : layout.rows) {
            const std::vector<std::uint8_t> content = PatternBytes(row.size, ++seed);
            if (row.clusters.empty()) {
                AddFile(&image, kRootDirectory, FileEntry(row.file, "DAT"), content);
            } else {
                AddFileInClusters(&image, kRootDirectory, FileEntry(row.file, "DAT"), row.clusters,
                                  content);
            }
        }
        ExtractionPlace place(image);
        const ChildResult result = place.Run();
        EXPECT_EQ(result.exitCode, 0);
        std::string expectedLines;
        seed = 0;
        for (const Row& row : layout.rows) {
            SCOPED_TRACE(row.name);
            const std::string file = std::string(row.file) + ".DAT";
            expectedLines += Created(place.Shown(file));
            EXPECT_EQ(ReadBytes(place.Out(file)), PatternBytes(row.size, ++seed));
        }
        EXPECT_EQ(AfterInfoLine(result.output), expectedLines);
    }
}

TEST(FileExtraction, StopsAFileWhoseChainIsCutShortOrLoops) {
    // 1.44 MB, clusters of 512 bytes. Each file claims 2000 bytes (four
    // clusters) but its chain gives out earlier; the file gets the clusters
    // its chain names, each once, and nothing from elsewhere.
    struct Row {
        const char* name;
        std::vector<std::uint16_t> clusters;
        std::uint16_t lastEntry;        // FAT entry of the chain's last cluster
        std::size_t bytesWritten;
    };
    const Row rows[] = {
        {"next cluster free", {10, 11}, kFatFree, 1024},
        {"next cluster 1", {10}, 1, 512},
        {"next cluster beyond the last one", {10, 11, 12}, 2849, 1536},
        {"chain loops back to its start", {10, 11}, 10, 1024},
        {"chain loops onto itself", {10}, 10, 512},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        const std::vector<std::uint8_t> content = PatternBytes(2000, 3);
        LinkChain(&image, row.clusters);
        WriteChainData(&image, row.clusters,
                       std::vector<std::uint8_t>(content.begin(),
                                                 content.begin() + row.clusters.size() * 512));
        SetFatEntry(&image, row.clusters.back(), row.lastEntry);
        DirectoryEntry entry = FileEntry("SHORT", "DAT");
        entry.firstCluster = row.clusters.front();
        entry.size = 2000;
        AppendEntry(&image, kRootDirectory, entry);
        ExtractionPlace place(image);
        const ChildResult result = place.Run();
        EXPECT_NE(result.exitCode, 124) << "the run did not end";
        EXPECT_EQ(ReadBytes(place.Out("SHORT.DAT")),
                  std::vector<std::uint8_t>(content.begin(), content.begin() + row.bytesWritten));
    }
}

TEST(FileExtraction, CreatesTheDirectoriesOnTheWayButNoEmptyOnes) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("TOP", "TXT"), TextBytes("top"));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    const std::uint16_t sub = AddDirectory(&image, dir, FileEntry("SUB", ""));
    const std::uint16_t deep = AddDirectory(&image, sub, FileEntry("DEEP", ""));
    AddFile(&image, deep, FileEntry("LEAF", "TXT"), TextBytes("leaf"));
    AddFile(&image, sub, FileEntry("MID", "TXT"), TextBytes("mid"));
    AddFile(&image, dir, FileEntry("EMPTY", "TXT"), {});
    AddDirectory(&image, dir, FileEntry("NOFILES", ""));
    AddDirectory(&image, kRootDirectory, FileEntry("BARE", ""));
    ExtractionPlace place(image);
    const ChildResult result = place.Run();
    EXPECT_EQ(result.exitCode, 0);
    // Directory entries print nothing; each file names its whole destination.
    EXPECT_EQ(AfterInfoLine(result.output),
              Created(place.Shown("TOP.TXT")) + Created(place.Shown("DIR/SUB/DEEP/LEAF.TXT")) +
                  Created(place.Shown("DIR/SUB/MID.TXT")) + Created(place.Shown("DIR/EMPTY.TXT")));
    EXPECT_EQ(TreeBelow(place.Out()),
              (std::set<std::string>{"TOP.TXT", "DIR/", "DIR/SUB/", "DIR/SUB/DEEP/",
                                     "DIR/SUB/DEEP/LEAF.TXT", "DIR/SUB/MID.TXT", "DIR/EMPTY.TXT"}));
    EXPECT_EQ(ReadText(place.Out("DIR/SUB/DEEP/LEAF.TXT")), "leaf");
    EXPECT_EQ(ReadText(place.Out("DIR/SUB/MID.TXT")), "mid");
    EXPECT_EQ(ReadBytes(place.Out("DIR/EMPTY.TXT")).size(), 0u);
}

TEST(FileExtraction, SetsTheModificationTimeOneHourBeforeTheStoredTime) {
    struct Row {
        const char* name;
        std::uint16_t date, time;
        std::int64_t expected;   // seconds since 1970-01-01 00:00 UTC
        std::size_t size;
    };
    const Row rows[] = {
        // 1998-01-01 is 28 x 365 + 7 leap days = 10227 days after 1970-01-01;
        // + 31 + 27 = 10285 days -> 1998-02-28 = 888624000; + 23:30 = 888708600.
        {"00:30 on 1 March 1998 goes back into February", DosDate(1998, 3, 1), DosTime(0, 30, 0),
         888708600, 5},
        // 1980-01-01 = 3652 days = 315532800; 2 Jan 00:00 - 1 h = 1 Jan 23:00 = +82800.
        {"midnight of 2 January 1980", DosDate(1980, 1, 2), DosTime(0, 0, 0), 315615600, 5},
        // 2000-01-01 = 10957 days = 946684800; + 59 days = 29 Feb = 951782400;
        // 12:34:56 - 1 h = 11:34:56 = 41696 s.
        {"seconds kept, leap day", DosDate(2000, 2, 29), DosTime(12, 34, 56), 951824096, 5},
        // Same time on an empty file.
        {"empty file", DosDate(1998, 3, 1), DosTime(0, 30, 0), 888708600, 0},
    };
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    unsigned number = 0;
    for (const Row& row : rows) {
        DirectoryEntry entry = FileEntry("T" + std::to_string(number++), "");
        entry.date = row.date;
        entry.time = row.time;
        AddFile(&image, kRootDirectory, entry, PatternBytes(row.size, number));
    }
    ExtractionPlace place(image);
    const std::time_t before = std::time(nullptr);
    const ChildResult result = place.Run();
    EXPECT_EQ(result.exitCode, 0);
    number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const struct stat status = StatusOf(place.Out("T" + std::to_string(number++)));
        EXPECT_EQ(status.st_mtim.tv_sec, row.expected);
        EXPECT_EQ(status.st_mtim.tv_nsec, 0);
        EXPECT_GE(status.st_atim.tv_sec, before - 1) << "the access time is left alone";
        EXPECT_EQ(static_cast<std::size_t>(status.st_size), row.size);
    }
}

TEST(FileExtraction, ReadOnlyClearsTheWriteBitsAndResistsALaterOverwrite) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("RO", "TXT", kAttrReadOnly | kAttrArchive),
            TextBytes("keep"));
    AddFile(&image, kRootDirectory, FileEntry("HIDSYS", "TXT", kAttrHidden | kAttrSystem),
            TextBytes("hs"));
    AddFile(&image, kRootDirectory, FileEntry("AFTER", "TXT"), TextBytes("after"));
    ExtractionPlace place(image);
    ChildResult result = place.Run();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(StatusOf(place.Out("RO.TXT")).st_mode & 0222, 0u);
    EXPECT_NE(StatusOf(place.Out("RO.TXT")).st_mode & 0444, 0u);
    EXPECT_NE(StatusOf(place.Out("HIDSYS.TXT")).st_mode & 0200, 0u)
        << "hidden and system change no permission";

    // A second run with -o meets the read-only file first and stops there.
    WriteText(place.Out("AFTER.TXT"), "old");
    result = place.Run({"-o"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(AfterInfoLine(result.output),
              ErrorText("File '" + place.Shown("RO.TXT") + "' could not be created.", 110));
    EXPECT_EQ(ReadText(place.Out("RO.TXT")), "keep");
    EXPECT_EQ(ReadText(place.Out("AFTER.TXT")), "old") << "the walk ended at the error";
}

// A write that fails part way leaves the file as far as it was written, with
// its permissions from the umask and the time of the write: neither the
// entry's time nor its read-only attribute, so a later run with -o replaces
// it. The shell limits the size of the files the program writes to 2 x 512
// bytes; the program ignores SIGXFSZ itself, so the write past that fails
// (EFBIG) instead of ending it.
TEST(FileExtraction, AFileWhoseWriteFailedGetsNoTimeAndStaysWritable) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    DirectoryEntry entry = FileEntry("RO", "TXT", kAttrReadOnly | kAttrArchive);
    entry.date = DosDate(1998, 3, 1);
    entry.time = DosTime(0, 30, 0);
    const std::vector<std::uint8_t> content = PatternBytes(3000, 7);
    AddFile(&image, kRootDirectory, entry, content);
    AddFile(&image, kRootDirectory, FileEntry("AFTER", "TXT"), TextBytes("after"));
    ExtractionPlace place(image);
    ChildOptions options;
    options.environment = {"LC_ALL=C"};
    options.workingDirectory = place.temp.Path();
    const std::time_t before = std::time(nullptr);
    ChildResult result = RunProgram(
        {"/bin/sh", "-c", "ulimit -f 2 && umask 027 && exec \"$0\" disk.img -d out",
         IMGEXTRACT_PATH},
        options);
    EXPECT_EQ(result.exitCode, 3) << result.output;
    EXPECT_EQ(AfterInfoLine(result.output),
              ErrorText("File '" + place.Shown("RO.TXT") + "' could not be created.", 29));
    EXPECT_EQ(ReadBytes(place.Out("RO.TXT")),
              std::vector<std::uint8_t>(content.begin(), content.begin() + 1024));
    const struct stat status = StatusOf(place.Out("RO.TXT"));
    EXPECT_EQ(status.st_mode & 07777, 0640u) << "0666 less 027, write bits kept";
    EXPECT_GE(status.st_mtim.tv_sec, before - 1) << "not the entry's time";
    EXPECT_FALSE(std::filesystem::exists(place.Out("AFTER.TXT")));

    result = place.Run({"-o"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(AfterInfoLine(result.output),
              Replaced(place.Shown("RO.TXT")) + Created(place.Shown("AFTER.TXT")));
    EXPECT_EQ(ReadBytes(place.Out("RO.TXT")), content);
}

// Permissions follow the user's umask: with umask 027 a file gets 0666 less
// 027 = 0640, a read-only one the same without its write bits = 0440, and a
// directory the run makes 0777 less 027 = 0750; in the extraction directory
// and in a directory made on the way alike.
TEST(FileExtraction, PermissionsFollowTheUmaskWithoutWriteBitsForReadOnlyFiles) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("RO", "TXT", kAttrReadOnly), TextBytes("ro"));
    AddFile(&image, kRootDirectory, FileEntry("RW", "TXT"), TextBytes("rw"));
    const std::uint16_t sub = AddDirectory(&image, kRootDirectory, FileEntry("SUB", ""));
    AddFile(&image, sub, FileEntry("RO", "TXT", kAttrReadOnly), TextBytes("sub ro"));
    ExtractionPlace place(image);
    ChildOptions options;
    options.environment = {"LC_ALL=C"};
    options.workingDirectory = place.temp.Path();
    const ChildResult result = RunProgram(
        {"/bin/sh", "-c", "umask 027 && exec \"$0\" disk.img -d out", IMGEXTRACT_PATH}, options);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(StatusOf(place.Out("RO.TXT")).st_mode & 07777, 0440u);
    EXPECT_EQ(StatusOf(place.Out("RW.TXT")).st_mode & 07777, 0640u);
    EXPECT_EQ(StatusOf(place.Out("SUB")).st_mode & 07777, 0750u);
    EXPECT_EQ(StatusOf(place.Out("SUB/RO.TXT")).st_mode & 07777, 0440u);
    EXPECT_EQ(ReadText(place.Out("SUB/RO.TXT")), "sub ro");
}

// Three files, A and C already on disk with "old", B new.
FatImage PromptImage() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("new a"));
    AddFile(&image, kRootDirectory, FileEntry("B", "TXT"), TextBytes("new b"));
    AddFile(&image, kRootDirectory, FileEntry("C", "TXT"), TextBytes("new c"));
    return image;
}

TEST(OverwritePrompt, ActsOnEachAnswerFromStandardInput) {
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::string input;
        // What follows the info line; P = prompt for X, R = replaced, S = skipped,
        // B = the creation of B.TXT.
        std::vector<std::string> output;
        const char* a;   // contents afterwards
        const char* c;
    };
    const std::vector<Row> rows = {
        {"y replaces this one file", {}, "y\ny\n", {"PA", "RA", "B", "PC", "RC"}, "new a", "new c"},
        {"n skips this one file", {}, "n\ny\n", {"PA", "SA", "B", "PC", "RC"}, "old", "new c"},
        {"A replaces this and every later one", {}, "A\n", {"PA", "RA", "B", "RC"}, "new a",
         "new c"},
        {"N keeps this and every later one", {}, "N\n", {"PA", "SA", "B", "SC"}, "old", "old"},
        {"only the first character counts", {}, "yes\nnever\n", {"PA", "RA", "B", "PC", "SC"},
         "new a", "old"},
        {"a line ending in CR LF", {}, "y\r\nn\r\n", {"PA", "RA", "B", "PC", "SC"}, "new a",
         "old"},
        // "Y", "a", an empty line and a space are no answers: the prompt comes again.
        {"other answers repeat the prompt", {}, "Y\na\n\n \nn\nA\n",
         {"PA", "PA", "PA", "PA", "PA", "SA", "B", "PC", "RC"}, "old", "new c"},
        // End of input counts as "N": the prompt line is ended, and this file
        // and every later existing one is kept.
        {"no input at all", {}, "", {"PA", "\n", "SA", "B", "SC"}, "old", "old"},
        {"input ends at the second prompt", {}, "y\n", {"PA", "RA", "B", "PC", "\n", "SC"},
         "new a", "old"},
        {"input ends inside a run of wrong answers", {}, "x\nz", {"PA", "PA", "PA", "\n", "SA",
         "B", "SC"}, "old", "old"},
        {"-o replaces without asking", {"-o"}, "", {"RA", "B", "RC"}, "new a", "new c"},
        {"-n keeps without asking", {"-n"}, "", {"SA", "B", "SC"}, "old", "old"},
        {"-o and -n: -o wins", {"-o", "-n"}, "", {"RA", "B", "RC"}, "new a", "new c"},
        {"-n and -o: -o wins", {"-n", "-o"}, "", {"RA", "B", "RC"}, "new a", "new c"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExtractionPlace place(PromptImage());
        WriteText(place.Out("A.TXT"), "old");
        WriteText(place.Out("C.TXT"), "old");
        const ChildResult result = place.Run(row.options, row.input);
        EXPECT_EQ(result.exitCode, 0);
        std::string expected;
        for (const std::string& step : row.output) {
            if (step == "B") {
                expected += Created(place.Shown("B.TXT"));
                continue;
            }
            if (step == "\n") {
                expected += step;
                continue;
            }
            const std::string name = step.substr(1) + ".TXT";
            if (step[0] == 'P') expected += Prompt(place.Shown(name));
            if (step[0] == 'R') expected += Replaced(place.Shown(name));
            if (step[0] == 'S') expected += Skipped(name);
        }
        EXPECT_EQ(AfterInfoLine(result.output), expected);
        EXPECT_EQ(ReadText(place.Out("A.TXT")), row.a);
        EXPECT_EQ(ReadText(place.Out("B.TXT")), "new b");
        EXPECT_EQ(ReadText(place.Out("C.TXT")), row.c);
    }
}

TEST(JunkPaths, PutsEveryFileIntoTheExtractionDirectoryAndAsksForTheSecondOfAName) {
    struct Row {
        const char* name;
        std::string input;
        std::string secondLine;   // after the prompt
        const char* contents;
    };
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t one = AddDirectory(&image, kRootDirectory, FileEntry("ONE", ""));
    const std::uint16_t two = AddDirectory(&image, kRootDirectory, FileEntry("TWO", ""));
    AddFile(&image, one, FileEntry("SAME", "TXT"), TextBytes("from one"));
    AddFile(&image, two, FileEntry("SAME", "TXT"), TextBytes("from two"));
    AddFile(&image, two, FileEntry("OTHER", "TXT"), TextBytes("other"));
    const Row rows[] = {
        {"replaced", "y\n", "replaced", "from two"},
        {"skipped", "n\n", "skipped", "from one"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExtractionPlace place(image);
        const ChildResult result = place.Run({"-j"}, row.input);
        EXPECT_EQ(result.exitCode, 0);
        const std::string second = row.secondLine == std::string("replaced")
                                       ? Replaced(place.Shown("SAME.TXT"))
                                       : Skipped("SAME.TXT");
        EXPECT_EQ(AfterInfoLine(result.output), Created(place.Shown("SAME.TXT")) +
                                                     Prompt(place.Shown("SAME.TXT")) + second +
                                                     Created(place.Shown("OTHER.TXT")));
        EXPECT_EQ(ReadText(place.Out("SAME.TXT")), row.contents);
        EXPECT_EQ(TreeBelow(place.Out()), (std::set<std::string>{"SAME.TXT", "OTHER.TXT"}));
    }
}

TEST(ExtractionErrors, ReportTheFailureAndEndTheRun) {
    // Each row's image holds the row's entries, then LATER.TXT, which must not
    // be written once the error has ended the walk.
    struct Row {
        const char* name;
        std::function<void(FatImage*)> fill;
        std::function<void(const ExtractionPlace&)> prepare;
        std::string extractionDirectory;        // below the temporary directory; "" = out
        std::string message;
    };
    const std::vector<Row> rows = {
        {"a directory stands where the file goes",
         [](FatImage* image) { AddFile(image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a")); },
         [](const ExtractionPlace& place) { mkdir(place.Out("A.TXT").c_str(), 0777); }, "",
         ErrorText("File 'out/A.TXT' could not be created.", 110)},
        {"a file stands where a directory goes",
         [](FatImage* image) {
             const std::uint16_t dir = AddDirectory(image, kRootDirectory, FileEntry("DIR", ""));
             AddFile(image, dir, FileEntry("IN", "TXT"), TextBytes("in"));
         },
         [](const ExtractionPlace& place) { WriteText(place.Out("DIR"), "a file"); }, "",
         ErrorText("Directory out/DIR could not be created.", 183)},
        {"missing extraction directory, file of the root",
         [](FatImage* image) { AddFile(image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a")); },
         [](const ExtractionPlace&) {}, "missing",
         ErrorText("File 'missing/A.TXT' could not be created.", 110)},
        {"missing extraction directory, file of a subdirectory",
         [](FatImage* image) {
             const std::uint16_t dir = AddDirectory(image, kRootDirectory, FileEntry("DIR", ""));
             const std::uint16_t sub = AddDirectory(image, dir, FileEntry("SUB", ""));
             AddFile(image, sub, FileEntry("IN", "TXT"), TextBytes("in"));
         },
         [](const ExtractionPlace&) {}, "missing",
         // The whole combined path is named; the first component failed (ENOENT).
         ErrorText("Directory missing/DIR/SUB could not be created.", 3)},
        {"deleted entry selected",
         [](FatImage* image) {
             AddFile(image, kRootDirectory, FileEntry("\xE5" "ONE", "TXT"), TextBytes("gone"));
         },
         [](const ExtractionPlace&) {}, "",
         ErrorText("File 'out/?ONE.TXT' could not be created.", 110)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        row.fill(&image);
        AddFile(&image, kRootDirectory, FileEntry("LATER", "TXT"), TextBytes("later"));
        ExtractionPlace place(image);
        row.prepare(place);
        const std::string directory = row.extractionDirectory.empty() ? "out" : row.extractionDirectory;
        const ChildResult result = place.Run({}, "", directory);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(AfterInfoLine(result.output), row.message);
        EXPECT_FALSE(std::filesystem::exists(place.temp / (directory + "/LATER.TXT")));
        EXPECT_EQ(TreeBelow(place.temp.Path()).count("missing/"), 0u);
    }
}

TEST(UnsafeNames, NothingAppearsOutsideTheExtractionDirectory) {
    // The stored 11 name bytes are written raw into the entry. Names holding
    // "/", a NUL byte or "?" cannot be host names; they fail like the name of
    // a deleted entry, before anything is looked at or created.
    struct Row {
        const char* name;
        std::string stored;          // 11 bytes: name and extension
        bool directory;              // a directory holding FILE.TXT
        std::string shown;           // the path after "out/" in the message
    };
    const std::vector<Row> rows = {
        {"slash in the name", "A/B     TXT", false, "A/B.TXT"},
        {"climbing out with slashes", "X/../../Z  ", false, "X/../../.Z"},
        {"NUL byte in the name", std::string("A\0B     TXT", 11), false, "A"},
        {"NUL byte first in the extension", std::string("ESCAPE  \0XT", 11), false, "ESCAPE."},
        {"question mark in the name", "WHAT?   TXT", false, "WHAT?.TXT"},
        {"nothing but spaces", "           ", false, ""},
        {"slash in a directory name", "UP/..      ", true, "UP/.."},
        {"NUL byte in a directory name", std::string("D\0SC    DIR", 11), true, "D"},
        {"question mark in a directory name", "DIR?       ", true, "DIR?"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        if (row.directory) {
            const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("PLACE", ""));
            AddFile(&image, dir, FileEntry("FILE", "TXT"), TextBytes("file"));
            // Rename PLACE to the stored bytes: the root's first slot.
            std::copy(row.stored.begin(), row.stored.end(),
                      image.bytes.begin() + RootDirectoryOffset(image));
        } else {
            DirectoryEntry entry = FileEntry("PLACE", "");
            AddFile(&image, kRootDirectory, entry, TextBytes("payload"));
            std::copy(row.stored.begin(), row.stored.end(),
                      image.bytes.begin() + RootDirectoryOffset(image));
        }
        ExtractionPlace place(image);
        // Places the names could reach if they were used: the parent of out and
        // out/UP already exist, so a slash would find its way.
        mkdir(place.Out("A").c_str(), 0777);
        mkdir(place.Out("X").c_str(), 0777);
        mkdir(place.Out("UP").c_str(), 0777);
        const std::set<std::string> before = TreeBelow(place.temp.Path());
        const ChildResult result = place.Run({"-o"});
        EXPECT_EQ(result.exitCode, 3);
        if (row.directory) {
            const std::string shown = place.Shown(row.shown);
            EXPECT_EQ(AfterInfoLine(result.output),
                      ErrorText("Directory " + shown + " could not be created.", 123));
        } else {
            EXPECT_EQ(AfterInfoLine(result.output),
                      ErrorText("File '" + place.Shown(row.shown) + "' could not be created.", 110));
        }
        EXPECT_EQ(TreeBelow(place.temp.Path()), before);
    }
}

TEST(UnsafeNames, RefusesTheCharactersThatDosAndWindowsNamesCannotHold) {
    // Each character stands inside a file name "A?B.TXT" of the root and
    // inside a directory name "D?R" that holds FILE.TXT.
    struct Row {
        std::string name;
        char character;
        bool refused;
    };
    std::vector<Row> rows;
    for (int byte = 0x01; byte <= 0x1F; ++byte) {
        rows.push_back({"control byte " + std::to_string(byte), static_cast<char>(byte), true});
    }
    for (char character : std::string("\"*:<>?\\|")) {
        rows.push_back({std::string("refused ") + character, character, true});
    }
    for (char character : std::string(" !#$%&'()+,-;=@[]^_`{}~\x7F\x80\xE1\xFF")) {
        rows.push_back({std::string("allowed ") + character, character, false});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string file = std::string("A") + row.character + "B";
        const std::string directory = std::string("D") + row.character + "R";
        // The console takes ESC and the byte after it as a colour change.
        const std::string shownFile = row.character == '\x1b' ? "A.TXT" : file + ".TXT";
        const std::string shownDirectory = row.character == '\x1b' ? "D" : directory;
        {
            FatImage image = FormatImage(StandardLayout(DisketteSize::k160));
            AddFile(&image, kRootDirectory, FileEntry(file, "TXT"), TextBytes("file"));
            ExtractionPlace place(image);
            const ChildResult result = place.Run();
            if (row.refused) {
                EXPECT_EQ(result.exitCode, 3);
                EXPECT_EQ(AfterInfoLine(result.output),
                          ErrorText("File '" + place.Shown(shownFile) + "' could not be created.",
                                    110));
                EXPECT_TRUE(TreeBelow(place.Out()).empty());
            } else {
                EXPECT_EQ(result.exitCode, 0);
                EXPECT_EQ(ReadText(place.Out(file + ".TXT")), "file");
            }
        }
        {
            FatImage image = FormatImage(StandardLayout(DisketteSize::k160));
            const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry(directory, ""));
            AddFile(&image, dir, FileEntry("FILE", "TXT"), TextBytes("inside"));
            ExtractionPlace place(image);
            const ChildResult result = place.Run();
            if (row.refused) {
                EXPECT_EQ(result.exitCode, 3);
                EXPECT_EQ(AfterInfoLine(result.output),
                          ErrorText("Directory " + place.Shown(shownDirectory) +
                                        " could not be created.",
                                    123));
                EXPECT_TRUE(TreeBelow(place.Out()).empty());
            } else {
                EXPECT_EQ(result.exitCode, 0);
                EXPECT_EQ(ReadText(place.Out(directory + "/FILE.TXT")), "inside");
            }
        }
    }
}

// Runs imgextract in the place's directory with LC_ALL set to locale, its
// output on a pseudo-terminal of the test's own or through a pipe.
ChildResult RunInLocale(const ExtractionPlace& place, const std::string& locale, bool terminal,
                        const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"/usr/bin/timeout", "20", IMGEXTRACT_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildOptions options;
    options.terminal = terminal;
    options.environment = {"LC_ALL=" + locale};
    options.workingDirectory = place.temp.Path();
    return RunProgram(command, options);
}

TEST(HostNames, AreWhatTheCreatedLineShows) {
    // Code page 437: 0x81 u umlaut (U+00FC, UTF-8 C3 BC), 0x94 o umlaut
    // (U+00F6, C3 B6), 0xE1 sharp s (U+00DF, C3 9F).
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AddFile(&image, kRootDirectory, FileEntry("\x81" "BER", "TXT"), TextBytes("root"));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("GR\x94SSE", ""));
    AddFile(&image, dir, FileEntry("STRA\xE1" "E", "TXT"), TextBytes("inside"));
    struct Row {
        const char* name;
        const char* locale;
        bool terminal;
        std::string directory;   // the extraction directory as typed
        std::string shown;       // ... as the lines show it
        bool utf8OnDisk;         // else the bytes of code page 437
        bool utf8Lines;          // else the bytes of code page 437
    };
    const std::vector<Row> rows = {
        {"UTF-8 locale on a terminal", "C.UTF-8", true, "out", "out", true, true},
        // Into a pipe the console passes its code page 437 text unchanged.
        {"UTF-8 locale into a pipe", "C.UTF-8", false, "out", "out", true, false},
        {"C locale into a pipe", "C", false, "out", "out", false, false},
        {"C locale on a terminal", "C", true, "out", "out", false, false},
        // A directory typed in UTF-8 reaches the file system as typed and is
        // shown through code page 437: A umlaut U+00C4 is 0x8E there.
        {"UTF-8 directory on a terminal", "C.UTF-8", true, "\xC3\x84-out", "\xC3\x84-out", true,
         true},
        {"UTF-8 directory into a pipe", "C.UTF-8", false, "\xC3\x84-out", "\x8E-out", true, false},
        // The euro sign U+20AC has no code page 437 form: shown as "?".
        {"directory character without a code page 437 form", "C.UTF-8", true,
         "\xE2\x82\xAC-out", "?-out", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExtractionPlace place(image);
        if (row.directory != "out") {
            ASSERT_EQ(mkdir((place.temp / row.directory).c_str(), 0777), 0);
        }
        const ChildResult result =
            RunInLocale(place, row.locale, row.terminal, {"disk.img", "-d", row.directory});
        EXPECT_EQ(result.exitCode, 0);
        const std::string u = row.utf8Lines ? "\xC3\xBC" : "\x81";
        const std::string o = row.utf8Lines ? "\xC3\xB6" : "\x94";
        const std::string ss = row.utf8Lines ? "\xC3\x9F" : "\xE1";
        EXPECT_EQ(AfterInfoLine(result.output),
                  row.shown + "/" + u + "BER.TXT created.\n" + row.shown + "/GR" + o +
                      "SSE/STRA" + ss + "E.TXT created.\n");
        const std::string root = place.temp / row.directory;
        if (row.utf8OnDisk) {
            EXPECT_EQ(TreeBelow(root), (std::set<std::string>{"\xC3\xBC" "BER.TXT", "GR\xC3\xB6SSE/",
                                                              "GR\xC3\xB6SSE/STRA\xC3\x9F" "E.TXT"}));
        } else {
            EXPECT_EQ(TreeBelow(root), (std::set<std::string>{"\x81" "BER.TXT", "GR\x94SSE/",
                                                              "GR\x94SSE/STRA\xE1" "E.TXT"}));
        }
    }
}

TEST(HostNames, AStoredFirstByte05IsMadeE5InDirectoriesAndFiles) {
    // A stored first byte 0x05 stands for 0xE5, which code page 437 shows as
    // a small sigma (U+03C3, UTF-8 CF 83). The directory \x05ABC holds the
    // file \x05ILE.TXT; both reach the host with 0xE5, or its UTF-8 form.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k160));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("\x05" "ABC", ""));
    AddFile(&image, dir, FileEntry("\x05" "ILE", "TXT"), TextBytes("inside"));
    struct Row {
        const char* name;
        const char* locale;
        std::string sigmaOnDisk;
    };
    const Row rows[] = {{"C locale", "C", "\xE5"}, {"UTF-8 locale", "C.UTF-8", "\xCF\x83"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExtractionPlace place(image);
        const ChildResult result = RunInLocale(place, row.locale, false, {"disk.img", "-d", "out"});
        EXPECT_EQ(result.exitCode, 0);
        // Into a pipe the lines keep code page 437.
        EXPECT_EQ(AfterInfoLine(result.output), Created(place.Shown("\xE5" "ABC/\xE5" "ILE.TXT")));
        const std::string sigma = row.sigmaOnDisk;
        EXPECT_EQ(TreeBelow(place.Out()),
                  (std::set<std::string>{sigma + "ABC/", sigma + "ABC/" + sigma + "ILE.TXT"}));
        EXPECT_EQ(ReadText(place.Out(sigma + "ABC/" + sigma + "ILE.TXT")), "inside");
    }
}

TEST(HostNames, TheImageFileNameIsShownAsTyped) {
    // a umlaut: UTF-8 C3 A4, code page 437 0x84.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k160));
    ExtractionPlace place(image);
    ASSERT_EQ(rename(place.Image().c_str(), (place.temp / "\xC3\xA4.img").c_str()), 0);
    const ChildResult onTerminal = RunInLocale(place, "C.UTF-8", true, {"-v", "\xC3\xA4.img"});
    EXPECT_EQ(onTerminal.exitCode, 0);
    EXPECT_NE(onTerminal.output.find("Reading image file \xC3\xA4.img ...\n"), std::string::npos)
        << onTerminal.output;
    const ChildResult missing = RunInLocale(place, "C.UTF-8", false, {"-v", "\xC3\xB6.img"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_EQ(missing.output, kBanner + "Reading image file \x94.img ...\n" +
                                  ErrorText("Image data of '\x94.img' could not be accessed."));
}

TEST(HostNames, ThatNoLongerFitInUtf8AreRefused) {
    // ÜÜÜÜÜÜÜÜ.ÜÜÜ: 12 bytes in code page 437 (0x9A), 11 x 2 + 1 = 23 in
    // UTF-8 (C3 9C). With an extraction directory of 240 characters the
    // destination takes 240 + 1 + 12 = 253 bytes, or 240 + 1 + 23 = 264.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k160));
    AddFile(&image, kRootDirectory, FileEntry(std::string(8, '\x9A'), std::string(3, '\x9A')),
            TextBytes("long"));
    const std::string directory = "out/" + std::string(236, 'a');
    const std::string cp437Name = std::string(8, '\x9A') + "." + std::string(3, '\x9A');
    struct Row {
        const char* name;
        const char* locale;
        bool fits;
    };
    const Row rows[] = {{"C locale", "C", true}, {"UTF-8 locale", "C.UTF-8", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExtractionPlace place(image);
        ASSERT_EQ(mkdir((place.temp / directory).c_str(), 0777), 0);
        const ChildResult result = RunInLocale(place, row.locale, false, {"disk.img", "-d", directory});
        const std::string destination = directory + "/" + cp437Name;
        if (row.fits) {
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_EQ(AfterInfoLine(result.output), Created(destination));
            EXPECT_EQ(ReadText(place.temp / destination), "long");
        } else {
            EXPECT_EQ(result.exitCode, 3);
            EXPECT_EQ(AfterInfoLine(result.output),
                      ErrorText("File '" + destination + "' could not be created.", 206));
            EXPECT_TRUE(TreeBelow(place.temp / directory).empty());
        }
    }
}

TEST(UnsafePlaces, LinksAtTheDestinationOrOnTheWayAreNotFollowed) {
    struct Row {
        const char* name;
        std::function<void(const ExtractionPlace&)> plant;
        std::string expected;   // message, with OUT for the extraction directory
        unsigned code;
    };
    const std::vector<Row> rows = {
        {"link to an existing file at the destination",
         [](const ExtractionPlace& place) {
             WriteText(place.temp / "secret", "secret");
             symlink((place.temp / "secret").c_str(), place.Out("A.TXT").c_str());
         },
         "File 'OUT/A.TXT' could not be created.", 110},
        {"link to a file not yet there",
         [](const ExtractionPlace& place) {
             symlink((place.temp / "planted").c_str(), place.Out("A.TXT").c_str());
         },
         "File 'OUT/A.TXT' could not be created.", 110},
        {"link in place of a directory on the way",
         [](const ExtractionPlace& place) {
             mkdir((place.temp / "elsewhere").c_str(), 0777);
             symlink((place.temp / "elsewhere").c_str(), place.Out("DIR").c_str());
         },
         "Directory OUT/DIR/SUB could not be created.", 183},
        {"link in place of a deeper directory",
         [](const ExtractionPlace& place) {
             mkdir((place.temp / "elsewhere").c_str(), 0777);
             mkdir(place.Out("DIR").c_str(), 0777);
             symlink((place.temp / "elsewhere").c_str(), place.Out("DIR/SUB").c_str());
         },
         "Directory OUT/DIR/SUB could not be created.", 183},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        if (row.code == 110) {
            AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));
        } else {
            const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
            const std::uint16_t sub = AddDirectory(&image, dir, FileEntry("SUB", ""));
            AddFile(&image, sub, FileEntry("A", "TXT"), TextBytes("a"));
        }
        ExtractionPlace place(image);
        row.plant(place);
        const std::set<std::string> before = TreeBelow(place.temp.Path());
        const ChildResult result = place.Run({"-o"});
        EXPECT_EQ(result.exitCode, 3);
        std::string expected = row.expected;
        expected.replace(expected.find("OUT"), 3, "out");
        EXPECT_EQ(AfterInfoLine(result.output), ErrorText(expected, row.code));
        EXPECT_EQ(TreeBelow(place.temp.Path()), before);
        if (std::filesystem::exists(place.temp / "secret")) {
            EXPECT_EQ(ReadText(place.temp / "secret"), "secret");
        }
    }
}

// Runs imgextract as ExtractionPlace::Run does, with standard input on a pipe
// kept open: whenever the output so far ends in the overwrite prompt, act is
// called with that output (the run waits meanwhile) and the line it returns
// is typed. A run that stays silent for ten seconds is stopped.
ChildResult RunAnsweringPrompts(const ExtractionPlace& place,
                                const std::function<std::string(const std::string&)>& act) {
    ChildResult result;
    int input[2];
    int output[2];
    if (pipe(input) != 0) return result;
    if (pipe(output) != 0) return result;
    const pid_t child = fork();
    if (child < 0) return result;
    if (child == 0) {
        dup2(input[0], 0);
        dup2(output[1], 1);
        for (int descriptor : {input[0], input[1], output[0], output[1]}) close(descriptor);
        setenv("LC_ALL", "C", 1);
        if (chdir(place.temp.Path().c_str()) != 0) _exit(125);
        execl(IMGEXTRACT_PATH, IMGEXTRACT_PATH, "disk.img", "-d", "out", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    const std::string prompt = "replace? [y]es [n]o [A]ll [N]one: ";
    std::size_t answered = 0;   // output length at the last answer
    for (;;) {
        pollfd ready{output[0], POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0) {
            kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t count = read(output[0], buffer, sizeof(buffer));
        if (count <= 0) break;
        result.output.append(buffer, static_cast<std::size_t>(count));
        const std::string& text = result.output;
        if (text.size() > answered && text.size() >= prompt.size() &&
            text.compare(text.size() - prompt.size(), prompt.size(), prompt) == 0) {
            answered = text.size();
            const std::string line = act(text);
            EXPECT_EQ(write(input[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
    }
    close(input[1]);
    close(output[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

TEST(UnsafePlaces, FilesFollowTheirOpenDirectoryWhateverHappensToItsPath) {
    // DIR holds A.TXT, B.TXT and C.TXT; B.TXT is on disk already, so the run
    // stops at its prompt, after A.TXT went into DIR. Then DIR is renamed
    // away, with or without a link to another directory put in its place. B
    // and C must follow A into the directory that was opened for it, and
    // nothing may appear at the old path or through the link.
    struct Row {
        const char* name;
        bool link;
    };
    const Row rows[] = {
        {"renamed away", false},
        {"renamed away and a link put in its place", true},
    };
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    AddFile(&image, dir, FileEntry("A", "TXT"), TextBytes("new a"));
    AddFile(&image, dir, FileEntry("B", "TXT"), TextBytes("new b"));
    AddFile(&image, dir, FileEntry("C", "TXT"), TextBytes("new c"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExtractionPlace place(image);
        ASSERT_EQ(mkdir(place.Out("DIR").c_str(), 0777), 0);
        WriteText(place.Out("DIR/B.TXT"), "old b");
        ASSERT_EQ(mkdir((place.temp / "elsewhere").c_str(), 0777), 0);
        const ChildResult result = RunAnsweringPrompts(place, [&](const std::string&) {
            EXPECT_EQ(rename(place.Out("DIR").c_str(), place.Out("MOVED").c_str()), 0);
            if (row.link) {
                EXPECT_EQ(symlink((place.temp / "elsewhere").c_str(), place.Out("DIR").c_str()), 0);
            }
            return std::string("y\n");
        });
        EXPECT_EQ(result.exitCode, 0);
        // The lines name the paths the files were meant for.
        EXPECT_EQ(AfterInfoLine(result.output),
                  Created(place.Shown("DIR/A.TXT")) + Prompt(place.Shown("DIR/B.TXT")) +
                      Replaced(place.Shown("DIR/B.TXT")) + Created(place.Shown("DIR/C.TXT")));
        if (row.link) {
            EXPECT_TRUE(S_ISLNK(StatusOf(place.Out("DIR")).st_mode));
            EXPECT_EQ(unlink(place.Out("DIR").c_str()), 0);
        }
        EXPECT_EQ(TreeBelow(place.Out()),
                  (std::set<std::string>{"MOVED/", "MOVED/A.TXT", "MOVED/B.TXT", "MOVED/C.TXT"}));
        EXPECT_EQ(ReadText(place.Out("MOVED/B.TXT")), "new b");
        EXPECT_EQ(ReadText(place.Out("MOVED/C.TXT")), "new c");
        EXPECT_TRUE(TreeBelow(place.temp / "elsewhere").empty());
    }
}

TEST(UnsafePlaces, ADeepTreeNeedsOnlyAFewOpenDescriptors) {
    // 100 nested directories D, each holding a file F.TXT after its
    // subdirectory, so that the walk comes back up through all of them:
    // "out/" + 100 x "D/" + "F.TXT" = 209 characters, within the limit. The
    // run may open 16 descriptors (3 of them standard ones).
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    std::vector<std::uint16_t> directories;
    std::uint16_t directory = kRootDirectory;
    for (int level = 0; level < 100; ++level) {
        directory = AddDirectory(&image, directory, FileEntry("D", "", 0));
        directories.push_back(directory);
    }
    for (std::uint16_t cluster : directories) {
        AddFile(&image, cluster, FileEntry("F", "TXT"), TextBytes("f"));
    }
    ExtractionPlace place(image);
    ChildOptions options;
    options.environment = {"LC_ALL=C"};
    options.workingDirectory = place.temp.Path();
    const ChildResult result = RunProgram(
        {"/bin/sh", "-c", "ulimit -n 16 && exec /usr/bin/timeout 20 \"$0\" disk.img -d out",
         IMGEXTRACT_PATH},
        options);
    EXPECT_EQ(result.exitCode, 0) << AfterInfoLine(result.output).substr(0, 2000);
    std::string path = "D";
    for (int level = 0; level < 100; ++level) {
        EXPECT_EQ(ReadText(place.Out(path + "/F.TXT")), "f") << "level " << level;
        path += "/D";
    }
}

TEST(UnsafePlaces, AFifoAtTheDestinationDoesNotHoldTheRun) {
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::string input;
        bool prompted;
    };
    const Row rows[] = {
        {"with -o", {"-o"}, "", false},
        {"answered y", {}, "y\n", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));
        ExtractionPlace place(image);
        ASSERT_EQ(mkfifo(place.Out("A.TXT").c_str(), 0666), 0);
        const ChildResult result = place.Run(row.options, row.input);
        EXPECT_EQ(result.exitCode, 3) << "124 means the run hung";
        EXPECT_EQ(AfterInfoLine(result.output),
                  (row.prompted ? Prompt(place.Shown("A.TXT")) : std::string()) +
                      ErrorText("File '" + place.Shown("A.TXT") + "' could not be created.", 110));
        EXPECT_TRUE(S_ISFIFO(StatusOf(place.Out("A.TXT")).st_mode));
    }
}

}  // namespace
