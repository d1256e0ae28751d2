// Tests of the UFI commands of USB floppy drives, on a scripted transport
// that records each command block and parameter list and answers from a
// script. The expected bytes are written by hand from the UFI command set.
#include "diskette/usb_floppy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "console/message.h"
#include "console/system_error.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ScriptedAnswer {
    std::uint8_t status = 0;   // 2: check condition with the sense below
    Bytes sense;               // key, ASC, ASCQ placed in fixed-format sense
    Bytes data;                // what the drive sends back
};

struct SentCommand {
    Bytes block;
    Bytes parameters;          // a list sent to the drive
};

std::deque<ScriptedAnswer> answers;
std::vector<SentCommand> sent;

ScriptedAnswer Sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    return {2, {key, asc, ascq}, {}};
}

void Script(std::deque<ScriptedAnswer> script) {
    answers = std::move(script);
    sent.clear();
}

// 1.44 MB drive with an HD diskette: the current capacity 2880 x 512
// (formatted, kind 2), and the three it can format: 2880 x 512, 1232 x
// 1024 and 2400 x 512. 32 bytes of descriptors after the header.
const Bytes kHighDensityCapacities = {
    0x00, 0x00, 0x00, 0x20,
    0x00, 0x00, 0x0B, 0x40, 0x02, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x0B, 0x40, 0x00, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x04, 0xD0, 0x00, 0x00, 0x04, 0x00,
    0x00, 0x00, 0x09, 0x60, 0x00, 0x00, 0x02, 0x00,
};

}  // namespace

// The scripted drive, linked in place of the SG_IO transport.
std::uint32_t SendUfiCommand(int descriptor, const UfiCommand* command, UfiAnswer* answer) {
    (void)descriptor;
    SentCommand record;
    record.block.assign(command->block, command->block + kUfiCommandSize);
    if (command->direction == UfiDirection::kToDrive) {
        record.parameters.assign(command->data, command->data + command->dataSize);
    }
    sent.push_back(record);
    ScriptedAnswer next;
    if (!answers.empty()) {
        next = answers.front();
        answers.pop_front();
    }
    answer->status = next.status;
    if (next.sense.size() == 3) {
        answer->sense[0] = 0x70;
        answer->sense[2] = next.sense[0];
        answer->sense[7] = 10;
        answer->sense[12] = next.sense[1];
        answer->sense[13] = next.sense[2];
        answer->senseLength = kUfiSenseSize;
    }
    const std::size_t count = std::min(next.data.size(), command->dataSize);
    if (command->direction == UfiDirection::kFromDrive && count > 0) {
        std::memcpy(command->data, next.data.data(), count);
    }
    answer->dataCount = command->direction == UfiDirection::kToDrive ? command->dataSize : count;
    return 0;
}

namespace {

TEST(UfiCommands, AreTheCommandSetsBytes) {
    // MODE SENSE's answer: the 8-byte header only, write-protect bit clear.
    Script({{0, {}, {0x00, 0x06, 0x94, 0x00, 0x00, 0x00, 0x00, 0x00}},
            {},
            {0, {}, kHighDensityCapacities}});
    EXPECT_EQ(CheckUfiWriteProtect(3), 0u);
    EXPECT_EQ(PrepareUfiFormat(3, 2880, 512), 0u);
    EXPECT_EQ(FormatUfiTrack(3, 40, 1, 2880, 512), 0u);
    ASSERT_EQ(sent.size(), 4u);
    // MODE SENSE(10) of all pages (0x3F), 192 bytes; TEST UNIT READY; READ
    // FORMAT CAPACITIES of 0xFC bytes; FORMAT UNIT of track 40 with data
    // (0x10) in defect list format 7, a 12-byte list.
    EXPECT_EQ(sent[0].block, (Bytes{0x5A, 0, 0x3F, 0, 0, 0, 0, 0x00, 0xC0, 0, 0, 0}));
    EXPECT_EQ(sent[1].block, (Bytes{0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[2].block, (Bytes{0x23, 0, 0, 0, 0, 0, 0, 0x00, 0xFC, 0, 0, 0}));
    EXPECT_EQ(sent[3].block, (Bytes{0x04, 0x17, 40, 0, 0, 0, 0, 0x00, 0x0C, 0, 0, 0}));
    // Header: options valid, no certification, one track, side 1; 8 bytes
    // of descriptor: 2880 blocks of 512 bytes.
    EXPECT_EQ(sent[3].parameters,
              (Bytes{0x00, 0xB1, 0x00, 0x08, 0x00, 0x00, 0x0B, 0x40, 0x00, 0x00, 0x02, 0x00}));
    // WRITE(10) of track side 2 (blocks 36-53) and READ(10) of track side
    // 159 (blocks 2862-2879): block address at 2-5, 18 blocks at 7-8.
    std::vector<std::uint8_t> side(18 * 512, 0x5A);
    Script({{}, {0, {}, side}});
    EXPECT_EQ(TransferUfiBlocks(3, true, side.data(), 36, 18, 512), 0u);
    EXPECT_EQ(TransferUfiBlocks(3, false, side.data(), 2862, 18, 512), 0u);
    EXPECT_EQ(sent.at(0).block, (Bytes{0x2A, 0, 0x00, 0x00, 0x00, 0x24, 0, 0x00, 0x12, 0, 0, 0}));
    EXPECT_EQ(sent.at(1).block, (Bytes{0x28, 0, 0x00, 0x00, 0x0B, 0x2E, 0, 0x00, 0x12, 0, 0, 0}));
}

TEST(UfiFormatPreparation, RefusesWhatTheDriveCannotDo) {
    struct Row {
        const char* name;
        std::deque<ScriptedAnswer> script;
        std::uint32_t blockCount;
        std::uint32_t code;
        std::size_t commandCount;
    };
    const Row rows[] = {
        {"720 KB: the drive lists no 1440 x 512", {{}, {0, {}, kHighDensityCapacities}}, 1440,
         kErrorNotSupported, 2},
        {"1.2 MB: listed", {{}, {0, {}, kHighDensityCapacities}}, 2400, 0, 2},
        {"no diskette", {Sense(2, 0x3A, 0x00)}, 2880, kErrorNotReady, 1},
        {"an unformatted diskette is formatted",
         {Sense(3, 0x30, 0x01), {0, {}, kHighDensityCapacities}}, 2880, 0, 2},
        {"diskette changed: asked again", {Sense(6, 0x28, 0x00), {}, {0, {}, kHighDensityCapacities}},
         2880, 0, 3},
        {"a drive without the command", {{}, Sense(5, 0x20, 0x00)}, 2880,
         SystemCodeFromSense(5, 0x20, 0x00), 2},
        {"the list says no medium",
         {{}, {0, {}, {0, 0, 0, 8, 0x00, 0x00, 0x0B, 0x40, 0x03, 0x00, 0x02, 0x00}}}, 2880,
         kErrorNotReady, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Script(row.script);
        EXPECT_EQ(PrepareUfiFormat(3, row.blockCount, 512), row.code);
        EXPECT_EQ(sent.size(), row.commandCount);
    }
    // MODE SENSE's header with the write-protect bit (byte 3, 0x80).
    Script({{0, {}, {0x00, 0x06, 0x94, 0x80, 0x00, 0x00, 0x00, 0x00}}});
    EXPECT_EQ(CheckUfiWriteProtect(3), kErrorWriteProtect);
}

TEST(UfiFormatUnit, FailsWithTheDrivesSenseShownInTheFormatMessage) {
    Script({Sense(3, 0x31, 0x01)});
    const std::uint32_t code = FormatUfiTrack(3, 40, 1, 2880, 512);
    char message[kMessageBufferSize];
    ASSERT_GT(BuildMessage(message, sizeof(message), OutputVariant::kConsole,
                           "Formatting error on track no. %u, side %u.", kMessageError, code, 41u,
                           1u),
              0u);
    ASSERT_GT(MakePlainMessage(message, sizeof(message)), 0u);
    EXPECT_STREQ(message, "Formatting error on track no. 41, side 1.\n"
                          "(Medium error reported by the drive, sense 3/31/01)\n");
}

}  // namespace
