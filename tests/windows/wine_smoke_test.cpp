// wine_smoke_test.cpp - the Windows programs (the .exe files of the Windows
// build) run under wine: exit codes, the extractor's listing in the user's
// locale, extracted files with their times and attributes as Linux sees
// them, the two output variants on a console (a pseudo-terminal, which wine
// turns into one) and redirected, keys at the diskette programs' prompts, and
// a self-creating diskette made from selfdisk.exe. Wine's own wording of
// system errors is never compared; the drive ioctls (geometry, format)
// cannot run under wine, so no diskette is written here.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/support/image_builder.h"
#include "tests/support/process.h"

namespace {

const std::string kPrograms = WINDOWS_PROGRAMS;
const std::string kDemoImage = std::string(SOURCE_DIR) + "/samples/demo.img";

// Without wine, or without the Windows build's programs, there is nothing to
// run: the test program ends with 77, which ctest shows as skipped.
class WineAtHand : public ::testing::Environment {
    void SetUp() override {
        if (access((kPrograms + "/imgextract.exe").c_str(), R_OK) == 0 &&
            std::system("command -v wine >/dev/null 2>&1") == 0)
            return;
        std::printf("SKIPPED: no wine, or no Windows programs in %s\n", kPrograms.c_str());
        std::exit(77);
    }
};
const ::testing::Environment* const kWineAtHand =
    ::testing::AddGlobalTestEnvironment(new WineAtHand);

// The prefix, made by the runner at its first use.
std::string PreparedPrefix() {
    ChildOptions options;
    options.environment = {"WINEPREFIX=" WINE_PREFIX};
    EXPECT_EQ(RunProgram({WINE_RUN}, options).exitCode, 0);
    return WINE_PREFIX;
}

struct WineRun {
    std::vector<std::string> environment;   // beyond the prefix and the C locale
    bool terminal = false;                  // a pseudo-terminal, which wine makes a console
    std::vector<TerminalStep> steps;        // keys typed once a text is shown
    std::string workingDirectory;
};

// Runs program (an .exe of the Windows build, or a path) under wine, with
// input in its standard input when it is no terminal; a run that takes more
// than 60 seconds is stopped (exit code 124).
ChildResult RunWindowsProgram(const std::string& program, const std::vector<std::string>& arguments,
                              const WineRun& run, const std::string& input = "") {
    const std::string path = program.find('/') == std::string::npos ? kPrograms + "/" + program
                                                                     : program;
    std::vector<std::string> command = {"/usr/bin/timeout", "--foreground", "60", WINE_RUN, path};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildOptions options;
    options.terminal = run.terminal;
    options.steps = run.steps;
    options.workingDirectory = run.workingDirectory;
    options.input = input;
    options.environment = {"WINEPREFIX=" WINE_PREFIX, "LC_ALL=C", "LANG=C"};
    options.environment.insert(options.environment.end(), run.environment.begin(),
                               run.environment.end());
    return RunProgram(command, options);
}

// What a console shows of wine's output on a pseudo-terminal: its line ends
// (CR CR LF) as LF, the cursor's hiding and showing, the colour sequences and
// the line clearing left out, a forward move (ESC [ n C) as n blanks.
std::string ScreenText(const std::string& output) {
    std::string text;
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output[i] == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
            std::size_t end = i + 2;
            while (end < output.size() && !(output[end] >= 0x40 && output[end] <= 0x7E)) ++end;
            if (end >= output.size()) break;
            if (output[end] == 'C') {
                const std::string count = output.substr(i + 2, end - i - 2);
                text.append(count.empty() ? 1 : std::stoul(count), ' ');
            }
            i = end;
            continue;
        }
        if (output[i] == '\r' && output.compare(i, 3, "\r\r\n") == 0) {
            text += '\n';
            i += 2;
            continue;
        }
        if (output[i] == '\r' && output.compare(i, 2, "\r\n") == 0) {
            text += '\n';
            ++i;
            continue;
        }
        text += output[i];
    }
    return text;
}

// A Linux path as the Windows programs see it: on drive Z:, which wine maps
// to the root.
std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') c = '\\';
    }
    return windows;
}

// Seconds since 1970 of a UTC moment, from the C library, not from the code
// under test.
std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
    struct tm moment {};
    moment.tm_year = year - 1900;
    moment.tm_mon = month - 1;
    moment.tm_mday = day;
    moment.tm_hour = hour;
    moment.tm_min = minute;
    moment.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&moment));
}

TEST(WindowsExtractor, HelpTextsAndExitCodesOnRedirectedOutput) {
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        int exitCode;
        std::string shown;   // a text the output holds, with its CR LF
    };
    const std::string usage = "Usage:\timgextract [options] file list [-x xl] [-d exdir]\r\n";
    const Row rows[] = {
        {"no argument: help text, 1", {}, 1, usage},
        {"only a switch: help text, 3", {"-j"}, 3, usage},
        {"--help is no word of Windows", {"--help"}, 3,
         "\r\nUnknown or misplaced parameter '--help'.\r\n"},
        {"/v is a switch, the image is missing", {"/v", "missing.img"}, 3,
         "Reading image file missing.img ...\r\n\r\n"
         "Image data of 'missing.img' could not be accessed.\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ChildResult result = RunWindowsProgram("imgextract.exe", row.arguments, {});
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_EQ(result.output.rfind("VELMORATRAX's image file extractor for Windows NT\r\n"
                                      "Version 1.0b\r\n",
                                      0),
                  0u)
            << result.output;
        EXPECT_NE(result.output.find(row.shown), std::string::npos) << result.output;
        // The file variant drops the colour pairs when the output is no console.
        EXPECT_EQ(result.output.find('\x1b'), std::string::npos);
        EXPECT_EQ(result.output.find("--help shows"), std::string::npos);
    }
}

// A diskette with SUB\FILE.TXT of 23456 bytes, archive and read-only, dated
// 31 December 1998, 23:59.
std::vector<std::uint8_t> ListingImage() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t sub = AddDirectory(&image, kRootDirectory, FileEntry("SUB", ""));
    DirectoryEntry file = FileEntry("FILE", "TXT");
    file.attributes = kAttrArchive | kAttrReadOnly;
    file.date = DosDate(1998, 12, 31);
    file.time = DosTime(23, 59, 0);
    AddFile(&image, sub, file, PatternBytes(23456, 1));
    return WrapPlain(image);
}

TEST(WindowsExtractor, ListsInTheUsersLocaleFormats) {
    TempDirectory directory;
    WriteBytes(directory / "list.img", ListingImage());
    struct Row {
        const char* name;
        const char* locale;
        std::string line;
    };
    // German: thousands ".", day-month-year with ".", 24 hours with ":".
    // English (United States, wine's choice for the C locale): ",",
    // month-day-year with "/", the 12-hour clock.
    const Row rows[] = {
        {"German", "LC_ALL=de_DE.UTF-8", "   23.456  31.12.1998  23:59  AR--  SUB\\FILE.TXT\r\n"},
        {"English", "LC_ALL=C", "   23,456  12/31/1998  11:59pm  AR--  SUB\\FILE.TXT\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WineRun run;
        run.environment = {row.locale};
        run.workingDirectory = directory.Path();
        const ChildResult result = RunWindowsProgram("imgextract.exe", {"-v", "list.img"}, run);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.output.find(row.line), std::string::npos) << result.output;
    }
}

// The extraction's image: README.TXT (archive) stamped 1 March 1998, 00:30;
// SUB\LOCKED.DAT read-only, 20 January 1995, 18:47:10; SUB\HIDDEN.SYS
// hidden and system, 4 July 2001, 12:00.
std::vector<std::uint8_t> ExtractionImage() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    DirectoryEntry readme = FileEntry("README", "TXT");
    readme.date = DosDate(1998, 3, 1);
    readme.time = DosTime(0, 30, 0);
    AddFile(&image, kRootDirectory, readme, TextBytes("hello\r\nworld\r\n"));
    const std::uint16_t sub = AddDirectory(&image, kRootDirectory, FileEntry("SUB", ""));
    DirectoryEntry locked = FileEntry("LOCKED", "DAT");
    locked.attributes = kAttrArchive | kAttrReadOnly;
    locked.date = DosDate(1995, 1, 20);
    locked.time = DosTime(18, 47, 10);
    AddFile(&image, sub, locked, PatternBytes(3000, 2));
    DirectoryEntry hidden = FileEntry("HIDDEN", "SYS");
    hidden.attributes = kAttrHidden | kAttrSystem;
    hidden.date = DosDate(2001, 7, 4);
    hidden.time = DosTime(12, 0, 0);
    AddFile(&image, sub, hidden, PatternBytes(100, 3));
    return WrapPlain(image);
}

TEST(WindowsExtractor, ExtractsFilesWithTheirTimesAndAttributes) {
    TempDirectory directory;
    WriteBytes(directory / "x.img", ExtractionImage());
    std::filesystem::create_directory(directory / "out");
    WineRun run;
    run.workingDirectory = directory.Path();
    const ChildResult result = RunWindowsProgram("imgextract.exe", {"x.img", "-d", "out"}, run);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("out\\README.TXT created.\r\n"
                                 "out\\SUB\\LOCKED.DAT created.\r\n"
                                 "out\\SUB\\HIDDEN.SYS created.\r\n"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(ReadText(directory / "out/README.TXT"), "hello\r\nworld\r\n");
    EXPECT_EQ(ReadBytes(directory / "out/SUB/LOCKED.DAT"), PatternBytes(3000, 2));

    // The file time is the stored time one hour earlier, read as UTC: 00:30
    // on 1 March 1998 becomes 23:30 on 28 February.
    struct Expected {
        const char* path;
        std::int64_t seconds;
        bool writable;
    };
    const Expected files[] = {
        {"out/README.TXT", UtcSeconds(1998, 2, 28, 23, 30, 0), true},
        {"out/SUB/LOCKED.DAT", UtcSeconds(1995, 1, 20, 17, 47, 10), false},
        {"out/SUB/HIDDEN.SYS", UtcSeconds(2001, 7, 4, 11, 0, 0), true},
    };
    for (const Expected& file : files) {
        SCOPED_TRACE(file.path);
        struct stat status {};
        ASSERT_EQ(stat((directory / file.path).c_str(), &status), 0);
        EXPECT_EQ(static_cast<std::int64_t>(status.st_mtime), file.seconds);
        // Wine keeps the read-only attribute as missing write permissions.
        EXPECT_EQ((status.st_mode & 0222) != 0, file.writable);
    }
    // Hidden and system go into an extended attribute of wine's ("0x6":
    // system 4 + hidden 2), where the file system takes user attributes.
    char value[16] = {};
    const ssize_t length = getxattr((directory / "out/SUB/HIDDEN.SYS").c_str(), "user.DOSATTRIB",
                                    value, sizeof(value) - 1);
    if (length >= 0 || errno != ENOTSUP) {
        EXPECT_EQ(std::string(value, length > 0 ? static_cast<std::size_t>(length) : 0), "0x6");
    }

    // A read-only file refuses to be replaced, also with -o; -n skips it.
    const ChildResult replace =
        RunWindowsProgram("imgextract.exe", {"-o", "x.img", "*LOCKED*", "-d", "out"}, run);
    EXPECT_EQ(replace.exitCode, 3);
    EXPECT_NE(replace.output.find("\r\nFile 'out\\SUB\\LOCKED.DAT' could not be created.\r\n"
                                  "(SYS0110)\r\n"),
              std::string::npos)
        << replace.output;
    const ChildResult keep =
        RunWindowsProgram("imgextract.exe", {"-n", "x.img", "*LOCKED*", "-d", "out"}, run);
    EXPECT_EQ(keep.exitCode, 0);
    EXPECT_NE(keep.output.find("LOCKED.DAT skipped.\r\n"), std::string::npos) << keep.output;

    // The overwrite prompt answered from a redirected standard input with
    // CR LF line ends: "Y" asks again, "y" replaces.
    WriteText(directory / "out/README.TXT", "old");
    const ChildResult asked = RunWindowsProgram("imgextract.exe", {"x.img", "*README*", "-d", "out"},
                                                run, "Y\r\ny\r\n");
    EXPECT_EQ(asked.exitCode, 0);
    const std::string prompt = "out\\README.TXT replace? [y]es [n]o [A]ll [N]one: ";
    EXPECT_NE(asked.output.find(prompt + prompt + "out\\README.TXT replaced.\r\n"),
              std::string::npos)
        << asked.output;
    EXPECT_EQ(ReadText(directory / "out/README.TXT"), "hello\r\nworld\r\n");
}

TEST(WindowsExtractor, RefusesNamesThatWindowsTakesForDevices) {
    struct Row {
        const char* name;
        std::string entryName;
        std::string extension;
        bool directory;
        std::string message;   // after the extraction directory and a "\"
    };
    const Row rows[] = {
        {"a file CON", "CON", "", false, "CON' could not be created.\r\n(SYS0110)\r\n"},
        {"a file NUL.TXT: the extension does not help", "NUL", "TXT", false,
         "NUL.TXT' could not be created.\r\n(SYS0110)\r\n"},
        {"a file COM1", "COM1", "", false, "COM1' could not be created.\r\n(SYS0110)\r\n"},
        {"a directory AUX", "AUX", "", true, "AUX could not be created.\r\n(SYS0123)\r\n"},
        {"a name ending in a dot", "ABC.", "", false,
         "ABC.' could not be created.\r\n(SYS0110)\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
        if (row.directory) {
            const std::uint16_t cluster =
                AddDirectory(&image, kRootDirectory, FileEntry(row.entryName, row.extension));
            AddFile(&image, cluster, FileEntry("INSIDE", "TXT"), TextBytes("x"));
        } else {
            AddFile(&image, kRootDirectory, FileEntry(row.entryName, row.extension),
                    TextBytes("x"));
        }
        TempDirectory directory;
        WriteBytes(directory / "d.img", WrapPlain(image));
        std::filesystem::create_directory(directory / "out");
        // Without -d: into the current directory, as the runtime library
        // names it.
        WineRun run;
        run.workingDirectory = directory / "out";
        const ChildResult result =
            RunWindowsProgram("imgextract.exe", {WindowsPath(directory / "d.img")}, run);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_NE(result.output.find(WindowsPath(directory / "out") + "\\" + row.message),
                  std::string::npos)
            << result.output;
        EXPECT_TRUE(std::filesystem::is_empty(directory / "out"));
    }
}

TEST(WindowsOutput, ConsoleVariantShowsNothingRedirectedAndColoursOnAConsole) {
    struct Row {
        const char* name;
        std::string program;
        std::vector<std::string> arguments;
        int exitCode;
        std::string title;                 // the banner's first words
    };
    const std::string designTitle = "VELMORATRAX's";
    const Row rows[] = {
        {"dskwrite /?", "dskwrite.exe", {"/?"}, 1, designTitle},
        {"dskwrite without an image", "dskwrite.exe", {}, 3, designTitle},
        {"selfdisk /x", "selfdisk.exe", {"/x"}, 3, designTitle},
        {"dskread without an image", "dskread.exe", {}, 3, "dskread, the diskette reader"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ChildResult redirected = RunWindowsProgram(row.program, row.arguments, {});
        EXPECT_EQ(redirected.exitCode, row.exitCode);
        EXPECT_EQ(redirected.output, "");
        WineRun console;
        console.terminal = true;
        const ChildResult shown = RunWindowsProgram(row.program, row.arguments, console);
        EXPECT_EQ(shown.exitCode, row.exitCode);
        // The banner's first lines in light cyan (0x0B), the hint in yellow
        // (0x0E), as wine draws the console's colours on the terminal.
        EXPECT_NE(shown.output.find("\x1b[96m" + row.title), std::string::npos) << shown.output;
        EXPECT_NE(shown.output.find("\x1b[93mEnter '" + row.program + " /?' to show help"),
                  std::string::npos)
            << shown.output;
    }
    WineRun console;
    console.terminal = true;
    const ChildResult usage = RunWindowsProgram("dskwrite.exe", {"/?"}, console);
    EXPECT_NE(ScreenText(usage.output).find("dskwrite.exe EXAMPLE.IMG B: /F"), std::string::npos)
        << usage.output;
    const ChildResult unknown = RunWindowsProgram("selfdisk.exe", {"/x"}, console);
    EXPECT_NE(ScreenText(unknown.output).find("\nUnknown parameter '/X'.\n"), std::string::npos)
        << unknown.output;
    // No Linux words on Windows; arguments are upper-cased in the ANSI code
    // page: a (0xE4 there) becomes A (0xC4), which the console's code page
    // 437 shows as a horizontal line (U+2500). Upper-casing a to z alone
    // would leave 0xE4, shown as a sigma.
    WineRun utf8Console = console;
    utf8Console.environment = {"LC_ALL=C.UTF-8"};
    const ChildResult upper =
        RunWindowsProgram("dskwrite.exe", {"--help", "/\xC3\xA4"}, utf8Console);
    EXPECT_EQ(upper.exitCode, 3);
    EXPECT_NE(ScreenText(upper.output)
                  .find("\nUnknown parameter '--HELP'.\n\nUnknown parameter '/\u2500'.\n"),
              std::string::npos)
        << ScreenText(upper.output);

    // The file variant on a console: colours as on the console variant.
    const ChildResult extractor = RunWindowsProgram("imgextract.exe", {}, console);
    EXPECT_EQ(extractor.exitCode, 1);
    EXPECT_NE(extractor.output.find("\x1b[96mVELMORATRAX's image file extractor"),
              std::string::npos)
        << extractor.output;
}

// Points the drive letter (lower case) at a file in the prefix: wine then
// opens "\\.\<letter>:" as that file (reads, writes, lock and unlock work;
// geometry and formatting do not). Each test takes a letter of its own, since
// tests run side by side on one prefix.
void LinkDrive(char letter, const std::string& file) {
    const std::string link = PreparedPrefix() + "/dosdevices/" + std::string(1, letter) + "::";
    std::error_code error;
    std::filesystem::remove(link, error);
    std::filesystem::create_symlink(file, link);
}

void UnlinkDrive(char letter) {
    std::error_code error;
    std::filesystem::remove(std::string(WINE_PREFIX) + "/dosdevices/" + std::string(1, letter) +
                                "::",
                            error);
}

TEST(WindowsDiskettePrompt, TakesEscAndEnterAtTheWritersPrompt) {
    struct Row {
        const char* name;
        char letter;
        std::string key;
        int exitCode;
        std::vector<std::string> shown;   // in this order, on the screen
    };
    const Row rows[] = {
        {"ESC cancels", 'm', "\x1b", 0,
         {"Insert diskette into 'M:' - ENTER=Continue  ESC=Cancel\r", "\nProcess canceled.\n"}},
        // After ENTER the image is read; the geometry query that follows is
        // one wine cannot answer.
        {"ENTER goes on", 'n', "\r", 3,
         {"Insert diskette into 'N:' - ENTER=Continue  ESC=Cancel\r",
          "Diskette 'DEMO DISK  ', Type: 3,5\" HD",
          "\nDevice parameters of the disk in 'N:' could not be determined.\n("}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        const std::string drive = directory / "drive.img";
        WriteBytes(drive, std::vector<std::uint8_t>(1474560, 0xE5));
        LinkDrive(row.letter, drive);
        WineRun run;
        run.terminal = true;
        TerminalStep prompt;
        prompt.after = "ESC=Cancel";
        prompt.input = row.key;
        run.steps = {prompt};
        const ChildResult result = RunWindowsProgram(
            "dskwrite.exe", {WindowsPath(kDemoImage), std::string(1, row.letter) + ":"}, run);
        UnlinkDrive(row.letter);
        EXPECT_EQ(result.exitCode, row.exitCode);
        const std::string screen = ScreenText(result.output);
        std::size_t position = 0;
        for (const std::string& text : row.shown) {
            position = screen.find(text, position);
            EXPECT_NE(position, std::string::npos) << text << "\n" << screen;
            if (position == std::string::npos) break;
        }
        // Nothing reached the drive.
        EXPECT_EQ(ReadBytes(drive), std::vector<std::uint8_t>(1474560, 0xE5));
    }
}

// A self-creating diskette made by the Linux build's mkselfdisk from
// selfdisk.exe: the payload offset goes to file offset 2, in the DOS header.
std::string MakeWindowsSelfDisk(const TempDirectory& directory) {
    const std::string output = directory / "disks.exe";
    const ChildResult made =
        RunProgram({MKSELFDISK_PATH, "-s", kPrograms + "/selfdisk.exe", "-o", output, "-t",
                    "Tools diskette\nSecond line \xC3\xA4\xC3\xB6", kDemoImage},
                   {});
    EXPECT_EQ(made.exitCode, 0) << made.output;
    const std::vector<std::uint8_t> program = ReadBytes(kPrograms + "/selfdisk.exe");
    const std::vector<std::uint8_t> bytes = ReadBytes(output);
    EXPECT_EQ(GetLe32(bytes, 2), program.size());
    return output;
}

TEST(WindowsSelfDisk, ShowsTheBoxOfAPayloadAppendedToTheExe) {
    TempDirectory directory;
    const std::string program = MakeWindowsSelfDisk(directory);
    LinkDrive('p', directory / "drive.img");
    WriteBytes(directory / "drive.img", std::vector<std::uint8_t>(1474560, 0));
    WineRun run;
    run.terminal = true;
    // Wine shows the console's code page 437 in the terminal's UTF-8.
    run.environment = {"LC_ALL=C.UTF-8"};
    const ChildResult listed = RunWindowsProgram(program, {"p:", "/d"}, run);
    EXPECT_EQ(listed.exitCode, 0);
    const std::string rule = [] {
        std::string line;
        for (int i = 0; i < 60; ++i) line += "\u2500";
        return line;
    }();
    // 22 rule characters after the count; the lines padded to 60 columns.
    const std::string box =
        "\u250C\u2500Description\u2500[ 1 diskette(s) included]" + rule.substr(0, 22 * 3) +
        "\u2510\n"
        "\u2502Tools diskette" + std::string(46, ' ') + "\u2502\n"
        "\u2502Second line \u00E4\u00F6" + std::string(46, ' ') + "\u2502\n"
        "\u2514" + rule + "\u2518\n"
        "Diskette  1: DEMO DISK  , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n";
    EXPECT_NE(ScreenText(listed.output).find("to show help \n" + box), std::string::npos)
        << ScreenText(listed.output);

    // selfdisk.exe as built holds its own length at 2: no payload, no prompt.
    const std::vector<std::uint8_t> stub = ReadBytes(kPrograms + "/selfdisk.exe");
    EXPECT_EQ(GetLe32(stub, 2), stub.size());
    const ChildResult empty = RunWindowsProgram("selfdisk.exe", {"P:"}, run);
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_NE(ScreenText(empty.output)
                  .find("to show help \nFile contains 0 diskette(s), no description was included\n"),
              std::string::npos)
        << ScreenText(empty.output);

    // s at the prompt skips the only diskette. (Wine turns a typed "S" into
    // SHIFT and S at once, and the key wait, which discards what waits before
    // each read, would take the SHIFT and discard the S.)
    TerminalStep prompt;
    prompt.after = "S=Skip  ESC=Cancel";
    prompt.input = "s";
    run.steps = {prompt};
    const ChildResult skipped = RunWindowsProgram(program, {"P:"}, run);
    UnlinkDrive('p');
    EXPECT_EQ(skipped.exitCode, 0);
    EXPECT_NE(ScreenText(skipped.output).find("\nDiskette #1 skipped.\n"), std::string::npos)
        << ScreenText(skipped.output);
    EXPECT_EQ(ReadBytes(directory / "drive.img"), std::vector<std::uint8_t>(1474560, 0));

    // Redirected, the console variant delivers nothing.
    const ChildResult redirected = RunWindowsProgram(program, {"q:", "/d"}, {});
    EXPECT_EQ(redirected.output, "");
    EXPECT_EQ(redirected.exitCode, 3);   // Q: is no drive here
}

TEST(WindowsBuilder, MakesTheSameFileAsTheLinuxBuilder) {
    TempDirectory directory;
    const std::string linuxMade = MakeWindowsSelfDisk(directory);
    WineRun run;
    run.workingDirectory = directory.Path();
    run.environment = {"LC_ALL=C.UTF-8"};
    // The stub is selfdisk.exe beside mkselfdisk.exe; the description comes
    // from a UTF-8 file as the Linux builder's came from its argument.
    WriteText(directory / "description.txt", "Tools diskette\nSecond line \xC3\xA4\xC3\xB6\n");
    const ChildResult made = RunWindowsProgram(
        "mkselfdisk.exe", {"-o", "win.exe", "-T", "description.txt", WindowsPath(kDemoImage)}, run);
    EXPECT_EQ(made.exitCode, 0) << made.output;
    EXPECT_EQ(ReadBytes(directory / "win.exe"), ReadBytes(linuxMade));
}

}  // namespace
