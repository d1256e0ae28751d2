// mkselfdisk with stubs of both kinds of executable: the payload offset goes
// where the stub's own kind keeps it (a Windows program at 2, an ELF program
// at 12), so one builder makes self-creating diskettes for both platforms.
// Each stub carries the marker of a selfdisk program somewhere in it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/selfdisk/payload_helper.h"
#include "tests/support/process.h"

namespace {

TEST(SelfDiskBuilderStub, SetsTheOffsetWhereTheStubsKindKeepsIt) {
    struct Row {
        const char* name;
        std::vector<std::uint8_t> signature;
        std::size_t field;
        std::size_t markerAt;   // mkselfdisk reads 32768 bytes at a time
    };
    const Row rows[] = {
        {"Windows program, the marker across two reads", {'M', 'Z'}, 2, 32768 - 20},
        {"ELF program", {0x7F, 'E', 'L', 'F'}, 12, 16},
    };
    const std::string marker = "selfdisk carries its payload at the end";
    // A sparse native image of 47 + 2 x 9216 = 18479 bytes, more than the
    // 8192 the reader takes at its start: no padding follows it.
    const std::vector<std::uint8_t> image = WrapNative(LabelledDiskette("KINDS"), NativeWith(true, true));
    ASSERT_EQ(image.size(), 18479u);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        // A stub as built: its field holds its own length; the other kind's
        // field holds 0x7F7F7F7F and must stay so.
        std::vector<std::uint8_t> stub = StandInProgram();
        stub.resize(row.markerAt + marker.size() + 8, 0x7F);
        std::copy(row.signature.begin(), row.signature.end(), stub.begin());
        std::copy(marker.begin(), marker.end(), stub.begin() + static_cast<std::ptrdiff_t>(row.markerAt));
        PutLe32(stub, row.field, static_cast<std::uint32_t>(stub.size()));
        WriteBytes(directory / "stub", stub);
        WriteBytes(directory / "kinds.img", image);
        ChildOptions options;
        options.environment = {"LC_ALL=C", "LANG=C"};
        const ChildResult result =
            RunProgram({MKSELFDISK_PATH, "-s", directory / "stub", "-o", directory / "made", "-t",
                        "Kinds", directory / "kinds.img"},
                       options);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        std::vector<std::uint8_t> expected = stub;
        const std::vector<std::uint8_t> payload = PayloadBytes(1, "Kinds", {image});
        expected.insert(expected.end(), payload.begin(), payload.end());
        EXPECT_EQ(ReadBytes(directory / "made"), expected);

        // A stub of this kind whose field points inside it carries a payload.
        PutLe32(stub, row.field, 32);
        WriteBytes(directory / "carrier", stub);
        const ChildResult refused =
            RunProgram({MKSELFDISK_PATH, "-s", directory / "carrier", "-o", directory / "other",
                        directory / "kinds.img"},
                       options);
        EXPECT_EQ(refused.exitCode, 3);
        EXPECT_NE(refused.output.find("already carries a payload"), std::string::npos)
            << refused.output;
    }
}

}  // namespace
