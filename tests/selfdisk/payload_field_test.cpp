// Where the payload offset field is: chosen by the executable's first bytes,
// so that a Windows program (a DOS header, "MZ") keeps it at file offset 2 and
// an ELF program at 12, whichever platform reads it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "selfdisk/payload.h"
#include "tests/extractor/program_helper.h"
#include "tests/selfdisk/payload_helper.h"

namespace {

TEST(PayloadOffsetField, IsChosenByTheKindOfExecutable) {
    struct Row {
        const char* name;
        std::vector<std::uint8_t> signature;
        std::uint32_t field;
    };
    // Whatever is no Windows program is taken for an ELF program: 12.
    const Row rows[] = {
        {"Windows: MZ", {'M', 'Z', 0x90, 0x00}, 2},
        {"Windows, a file of two bytes", {'M', 'Z'}, 2},
        {"ELF", {0x7F, 'E', 'L', 'F'}, 12},
        {"ELF cut after three bytes", {0x7F, 'E', 'L'}, 12},
        {"ZM is no DOS header", {'Z', 'M', 0, 0}, 12},
        {"anything else", {0x7F, 0x7F, 0x7F, 0x7F}, 12},
        {"an empty file", {}, 12},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PayloadOffsetFieldOf(row.signature.data(), row.signature.size()), row.field);
    }
}

// A Windows program of 64 bytes: "MZ", then its payload offset (64) at 2; the
// bytes 12 to 15, where an ELF program keeps it, point nowhere (0x7F7F7F7F).
// The payload after it: 2 diskettes, description "Two" (count, length, text),
// and no image.
TEST(PayloadHeader, IsReadFromOffsetTwoOfAWindowsProgram) {
    std::vector<std::uint8_t> program = StandInProgram();
    program[0] = 'M';
    program[1] = 'Z';
    PutLe32(program, 2, static_cast<std::uint32_t>(program.size()));
    const std::vector<std::uint8_t> payload = PayloadBytes(2, "Two", {});
    program.insert(program.end(), payload.begin(), payload.end());
    TempDirectory directory;
    WriteBytes(directory / "disks.exe", program);
    const int handle = OpenImageFile((directory / "disks.exe").c_str());
    ASSERT_GE(handle, 0);
    PayloadHeader header{};
    EXPECT_TRUE(ReadPayloadHeader(handle, &header));
    CloseImageFile(handle);
    EXPECT_EQ(header.payloadOffset, 64u);
    EXPECT_EQ(header.disketteCount, 2u);
    EXPECT_EQ(std::string(header.description), "Two");
    EXPECT_EQ(header.firstImageOffset, 64 + 2 + 3);
}

}  // namespace
