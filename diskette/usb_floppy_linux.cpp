// usb_floppy_linux.cpp - the UFI commands of a USB floppy drive: built,
// decoded and sent through the transport (usb_transport_linux.cpp).
#include "diskette/usb_floppy.h"

#include <cstring>

#include "console/system_error.h"

static constexpr std::uint8_t kOperationTestUnitReady = 0x00;
static constexpr std::uint8_t kOperationFormatUnit = 0x04;
static constexpr std::uint8_t kOperationReadFormatCapacities = 0x23;
static constexpr std::uint8_t kOperationRead10 = 0x28;
static constexpr std::uint8_t kOperationWrite10 = 0x2A;
static constexpr std::uint8_t kOperationModeSense = 0x5A;

static constexpr std::uint8_t kAllModePages = 0x3F;
// FORMAT UNIT byte 1: format data follows (0x10), defect list format 7.
static constexpr std::uint8_t kFormatDataWithListFormat7 = 0x17;
// Defect list header byte 1: format options valid (0x80), no certification
// (0x20), one track (0x10); the side goes into bit 0.
static constexpr std::uint8_t kFormatOneTrackUncertified = 0xB0;
static constexpr std::uint8_t kFormatDescriptorLength = 8;

static constexpr std::uint8_t kStatusGood = 0x00;
static constexpr std::uint8_t kSenseKeyNotReady = 0x02;
static constexpr std::uint8_t kSenseKeyUnitAttention = 0x06;
static constexpr std::uint8_t kSenseKeyDataProtect = 0x07;
static constexpr std::uint8_t kSenseNoMedium = 0x3A;            // ASC
static constexpr std::uint8_t kSenseWriteProtected = 0x27;      // ASC
static constexpr std::uint8_t kSenseIncompatibleMedium = 0x30;  // ASC: 30/01 unknown format
static constexpr std::uint8_t kModeHeaderWriteProtect = 0x80;   // byte 3 of the header
static constexpr std::size_t kModeHeaderDeviceByte = 3;

// READ FORMAT CAPACITIES: a 4-byte header (byte 3: bytes of descriptors),
// then 8-byte descriptors: the current or maximum capacity first, then those
// the drive can format. A descriptor: blocks (big-endian 32), a byte whose
// bits 1-0 give the current one's kind (3: no medium), block length
// (big-endian 24).
static constexpr std::size_t kCapacityHeaderSize = 4;
static constexpr std::size_t kCapacityListLengthByte = 3;
static constexpr std::size_t kCapacityDescriptorSize = 8;
static constexpr std::uint8_t kCapacityKindMask = 0x03;
static constexpr std::uint8_t kCapacityNoMedium = 0x03;

static constexpr int kUnitAttentionRetries = 2;

static void PutBigEndian(std::uint8_t* bytes, std::uint32_t value, int byteCount) {
    for (int index = byteCount - 1; index >= 0; --index) {
        bytes[index] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

static std::uint32_t GetBigEndian(const std::uint8_t* bytes, int byteCount) {
    std::uint32_t value = 0;
    for (int index = 0; index < byteCount; ++index) value = (value << 8) | bytes[index];
    return value;
}

static void StartCommand(UfiCommand* command, std::uint8_t operation, UfiDirection direction,
                         std::uint8_t* data, std::size_t dataSize) {
    *command = UfiCommand{};
    command->block[0] = operation;
    command->direction = direction;
    command->data = data;
    command->dataSize = dataSize;
    if (data != nullptr) std::memset(data, 0, dataSize);
}

void MakeTestUnitReady(UfiCommand* command) {
    StartCommand(command, kOperationTestUnitReady, UfiDirection::kNone, nullptr, 0);
}

void MakeModeSense(UfiCommand* command, std::uint8_t* answer) {
    StartCommand(command, kOperationModeSense, UfiDirection::kFromDrive, answer,
                 kUfiModeSenseSize);
    command->block[2] = kAllModePages;
    PutBigEndian(command->block + 7, kUfiModeSenseSize, 2);
}

void MakeReadFormatCapacities(UfiCommand* command, std::uint8_t* answer) {
    StartCommand(command, kOperationReadFormatCapacities, UfiDirection::kFromDrive, answer,
                 kUfiCapacityListSize);
    PutBigEndian(command->block + 7, kUfiCapacityListSize, 2);
}

void MakeFormatUnit(UfiCommand* command, std::uint8_t* parameters, std::uint32_t track,
                    std::uint32_t side, std::uint32_t blockCount, std::uint32_t blockLength) {
    StartCommand(command, kOperationFormatUnit, UfiDirection::kToDrive, parameters,
                 kUfiFormatListSize);
    command->block[1] = kFormatDataWithListFormat7;
    command->block[2] = static_cast<std::uint8_t>(track);
    PutBigEndian(command->block + 7, kUfiFormatListSize, 2);
    parameters[1] = static_cast<std::uint8_t>(kFormatOneTrackUncertified | (side & 1));
    parameters[3] = kFormatDescriptorLength;
    PutBigEndian(parameters + 4, blockCount, 4);
    PutBigEndian(parameters + 9, blockLength, 3);
}

void MakeReadWrite(UfiCommand* command, bool write, std::uint8_t* data, std::uint32_t lba,
                   std::uint32_t blockCount, std::uint32_t blockLength) {
    *command = UfiCommand{};
    command->block[0] = write ? kOperationWrite10 : kOperationRead10;
    command->direction = write ? UfiDirection::kToDrive : UfiDirection::kFromDrive;
    command->data = data;
    command->dataSize = static_cast<std::size_t>(blockCount) * blockLength;
    PutBigEndian(command->block + 2, lba, 4);
    PutBigEndian(command->block + 7, blockCount, 2);
}

// Key, ASC and ASCQ of fixed-format sense (response code 0x70 or 0x71) or
// descriptor-format sense (0x72 or 0x73); false when there is none.
static bool DecodeSense(const UfiAnswer* answer, std::uint8_t* key, std::uint8_t* asc,
                        std::uint8_t* ascq) {
    const std::uint8_t* sense = answer->sense;
    const std::size_t length = answer->senseLength < kUfiSenseSize ? answer->senseLength
                                                                     : kUfiSenseSize;
    const std::uint8_t responseCode = length > 0 ? sense[0] & 0x7F : 0;
    if ((responseCode == 0x70 || responseCode == 0x71) && length >= 14) {
        *key = sense[2] & 0x0F;
        *asc = sense[12];
        *ascq = sense[13];
        return true;
    }
    if ((responseCode == 0x72 || responseCode == 0x73) && length >= 4) {
        *key = sense[1] & 0x0F;
        *asc = sense[2];
        *ascq = sense[3];
        return true;
    }
    return false;
}

std::uint32_t CodeFromUfiAnswer(const UfiAnswer* answer) {
    if (answer->status == kStatusGood) return 0;
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    if (!DecodeSense(answer, &key, &asc, &ascq)) return kErrorGeneralFailure;
    if (asc == kSenseNoMedium) return kErrorNotReady;
    if (key == kSenseKeyDataProtect || asc == kSenseWriteProtected) return kErrorWriteProtect;
    if (asc == kSenseIncompatibleMedium) return kErrorUnrecognizedMedia;
    return SystemCodeFromSense(key, asc, ascq);
}

bool IsWriteProtectedAnswer(const std::uint8_t* answer, std::size_t answerCount) {
    return answerCount > kModeHeaderDeviceByte &&
           (answer[kModeHeaderDeviceByte] & kModeHeaderWriteProtect) != 0;
}

std::uint32_t FindUfiCapacity(const std::uint8_t* answer, std::size_t answerCount,
                              std::uint32_t blockCount, std::uint32_t blockLength) {
    if (answerCount < kCapacityHeaderSize + kCapacityDescriptorSize) return kErrorNotSupported;
    std::size_t listLength = answer[kCapacityListLengthByte];
    if (listLength > answerCount - kCapacityHeaderSize) listLength = answerCount - kCapacityHeaderSize;
    const std::size_t descriptorCount = listLength / kCapacityDescriptorSize;
    for (std::size_t index = 0; index < descriptorCount; ++index) {
        const std::uint8_t* descriptor =
            answer + kCapacityHeaderSize + index * kCapacityDescriptorSize;
        if (index == 0 && (descriptor[4] & kCapacityKindMask) == kCapacityNoMedium) {
            return kErrorNotReady;
        }
        if (GetBigEndian(descriptor, 4) == blockCount &&
            GetBigEndian(descriptor + 5, 3) == blockLength) {
            return 0;
        }
    }
    return kErrorNotSupported;
}

// Sends a command and asks again while the drive reports a unit attention.
// 0 or the code of the answer; *answer holds the last one.
static std::uint32_t RunUfiCommand(int descriptor, const UfiCommand* command, UfiAnswer* answer) {
    for (int attempt = 0;; ++attempt) {
        *answer = UfiAnswer{};
        const std::uint32_t code = SendUfiCommand(descriptor, command, answer);
        if (code != 0) return code;
        std::uint8_t key = 0;
        std::uint8_t asc = 0;
        std::uint8_t ascq = 0;
        const bool unitAttention = answer->status != kStatusGood &&
                                   DecodeSense(answer, &key, &asc, &ascq) &&
                                   key == kSenseKeyUnitAttention;
        if (!unitAttention || attempt == kUnitAttentionRetries) return CodeFromUfiAnswer(answer);
    }
}

std::uint32_t CheckUfiWriteProtect(int descriptor) {
    std::uint8_t modes[kUfiModeSenseSize];
    UfiCommand command{};
    UfiAnswer answer{};
    MakeModeSense(&command, modes);
    if (RunUfiCommand(descriptor, &command, &answer) != 0) return 0;
    return IsWriteProtectedAnswer(modes, answer.dataCount) ? kErrorWriteProtect : 0;
}

std::uint32_t PrepareUfiFormat(int descriptor, std::uint32_t blockCount,
                               std::uint32_t blockLength) {
    UfiCommand command{};
    UfiAnswer answer{};
    MakeTestUnitReady(&command);
    std::uint32_t code = RunUfiCommand(descriptor, &command, &answer);
    // A diskette that is not formatted yet is what a format is for.
    if (code != 0 && code != kErrorUnrecognizedMedia) return code;
    std::uint8_t capacities[kUfiCapacityListSize];
    MakeReadFormatCapacities(&command, capacities);
    code = RunUfiCommand(descriptor, &command, &answer);
    if (code != 0) return code;
    return FindUfiCapacity(capacities, answer.dataCount, blockCount, blockLength);
}

std::uint32_t TransferUfiBlocks(int descriptor, bool write, std::uint8_t* data,
                                std::uint32_t lba, std::uint32_t blockCount,
                                std::uint32_t blockLength) {
    UfiCommand command{};
    UfiAnswer answer{};
    MakeReadWrite(&command, write, data, lba, blockCount, blockLength);
    const std::uint32_t code = RunUfiCommand(descriptor, &command, &answer);
    if (code != 0) return code;
    return answer.dataCount != command.dataSize ? kErrorSectorNotFound : 0;
}

std::uint32_t FormatUfiTrack(int descriptor, std::uint32_t track, std::uint32_t side,
                             std::uint32_t blockCount, std::uint32_t blockLength) {
    std::uint8_t parameters[kUfiFormatListSize];
    UfiCommand command{};
    UfiAnswer answer{};
    MakeFormatUnit(&command, parameters, track, side, blockCount, blockLength);
    return RunUfiCommand(descriptor, &command, &answer);
}
