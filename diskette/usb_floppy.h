// usb_floppy.h - what a USB floppy drive is asked in its own command set
// (UFI): whether its diskette is write-protected, which capacities it can
// format on it, and the format of one track side. The commands are built and
// the answers decoded by pure routines; one transport sends them (on Linux
// through SG_IO), which test programs replace at link time.
// The operations return 0 or a system error code and report nothing.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kUfiCommandSize = 12;      // every UFI command block
inline constexpr std::size_t kUfiSenseSize = 18;        // the sense data a UFI drive returns
inline constexpr std::size_t kUfiCapacityListSize = 252;   // READ FORMAT CAPACITIES' answer room
inline constexpr std::size_t kUfiModeSenseSize = 192;      // MODE SENSE's answer room
inline constexpr std::size_t kUfiFormatListSize = 12;      // FORMAT UNIT's parameter list

enum class UfiDirection : std::uint8_t {
    kNone = 0,
    kFromDrive = 1,                        // the drive answers into data
    kToDrive = 2,                          // data is a parameter list for the drive
};

struct UfiCommand {
    std::uint8_t block[kUfiCommandSize];   // the command block, byte 0 the operation code
    UfiDirection direction;
    std::uint8_t* data;                    // dataSize bytes; nullptr with kNone; owned by the caller
    std::size_t dataSize;
};

struct UfiAnswer {
    std::uint8_t status;                   // SCSI status: 0 good, 2 check condition (sense follows)
    std::uint8_t sense[kUfiSenseSize];     // fixed-format sense data: key in byte 2, ASC 12, ASCQ 13
    std::size_t senseLength;               // bytes of sense the drive gave
    std::size_t dataCount;                 // bytes of data moved
};

// Sends command to the drive open as descriptor (the block device of a USB
// floppy drive) and fills *answer. 0 when the drive answered, whatever its
// status; otherwise the code of a command that did not reach it or got no
// answer (1460: it timed out). On Linux: SG_IO on the block device or, where
// the block device refuses SG_IO, on the drive's SCSI generic node; either
// takes commands from a user who may write the drive, no more.
[[nodiscard]] std::uint32_t SendUfiCommand(int descriptor, const UfiCommand* command,
                                           UfiAnswer* answer);

// The command builders: each fills *command with its block and its data.
// TEST UNIT READY (0x00): no data.
void MakeTestUnitReady(UfiCommand* command);
// MODE SENSE(10) (0x5A) of every page, into answer (kUfiModeSenseSize bytes).
void MakeModeSense(UfiCommand* command, std::uint8_t* answer);
// READ FORMAT CAPACITIES (0x23), into answer (kUfiCapacityListSize bytes).
void MakeReadFormatCapacities(UfiCommand* command, std::uint8_t* answer);
// FORMAT UNIT (0x04) of one track side, track counted from 0, side 0 or 1,
// with the parameter list in parameters (kUfiFormatListSize bytes): a defect
// list header for one track without certification and the format
// descriptor of the whole diskette, blockCount blocks of blockLength bytes.
void MakeFormatUnit(UfiCommand* command, std::uint8_t* parameters, std::uint32_t track,
                    std::uint32_t side, std::uint32_t blockCount, std::uint32_t blockLength);

// READ(10) (0x28), or WRITE(10) (0x2A) with write, of blockCount blocks of
// blockLength bytes from block lba on, into or from data.
void MakeReadWrite(UfiCommand* command, bool write, std::uint8_t* data, std::uint32_t lba,
                   std::uint32_t blockCount, std::uint32_t blockLength);

// The system error code of an answer: 0 for good status; from the sense:
// 21 no medium, 19 write-protected, 1785 a medium unformatted or of a format
// the drive cannot read, any other sense SystemCodeFromSense (its text shows
// key, ASC and ASCQ); 31 for a failure without sense.
[[nodiscard]] std::uint32_t CodeFromUfiAnswer(const UfiAnswer* answer);

// True when a MODE SENSE answer of answerCount bytes has the write-protect
// bit of its header set; false also when it is too short to tell.
[[nodiscard]] bool IsWriteProtectedAnswer(const std::uint8_t* answer, std::size_t answerCount);

// Looks for blockCount blocks of blockLength bytes in a READ FORMAT
// CAPACITIES answer of answerCount bytes: 0 when the drive lists that
// capacity (its current one, or one it can format on the diskette in it),
// 21 when it says it holds no diskette, 50 when it does not list it.
[[nodiscard]] std::uint32_t FindUfiCapacity(const std::uint8_t* answer, std::size_t answerCount,
                                            std::uint32_t blockCount, std::uint32_t blockLength);

// The operations. Each sends its commands through SendUfiCommand and asks
// again, up to twice, when the drive reports a unit attention (a diskette
// changed, a reset) instead of an answer.

// 19 when the drive reports its diskette write-protected; 0 otherwise, also
// when it cannot tell (the writes then find out).
[[nodiscard]] std::uint32_t CheckUfiWriteProtect(int descriptor);

// Readies the format of blockCount blocks of blockLength bytes: the drive
// must hold a diskette (formatted or not) and list that capacity for it.
// 0, 21, 50 (the drive cannot format the diskette so, as most cannot a 720
// KB layout on a 1.44 MB diskette), or the code of the command that failed.
[[nodiscard]] std::uint32_t PrepareUfiFormat(int descriptor, std::uint32_t blockCount,
                                             std::uint32_t blockLength);

// Moves blockCount blocks of blockLength bytes between data and the
// diskette from block lba on, in one command, whatever size the system holds
// for the medium: 0, 27 for a transfer that ended short, or the answer's code.
[[nodiscard]] std::uint32_t TransferUfiBlocks(int descriptor, bool write, std::uint8_t* data,
                                              std::uint32_t lba, std::uint32_t blockCount,
                                              std::uint32_t blockLength);

// Formats one track side with the format descriptor PrepareUfiFormat took.
[[nodiscard]] std::uint32_t FormatUfiTrack(int descriptor, std::uint32_t track, std::uint32_t side,
                                           std::uint32_t blockCount, std::uint32_t blockLength);
