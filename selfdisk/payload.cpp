// payload.cpp - reading a self-creating diskette's payload header.
#include "selfdisk/payload.h"

#include <iterator>

#include "console/system_error.h"
#include "image/byte_order.h"
#include "image/image_file.h"

// Reads one byte at the current position; 0 when the file has none there.
static std::uint8_t ReadByteOrZero(int fileHandle) {
    std::uint8_t byte = 0;
    std::uint64_t readCount = 0;
    if (ReadFileBytes(fileHandle, &byte, 1, &readCount) != 0 || readCount != 1) return 0;
    return byte;
}

std::uint32_t PayloadOffsetFieldOf(const std::uint8_t* signature, std::size_t signatureLength) {
    if (signatureLength >= 2 && signature[0] == 'M' && signature[1] == 'Z') {
        return kWindowsPayloadOffsetField;
    }
    return kElfPayloadOffsetField;
}

std::uint32_t ReadPayloadOffsetField(int fileHandle, std::uint32_t* fieldOffset,
                                     std::uint32_t* payloadOffset) {
    *fieldOffset = 0;
    *payloadOffset = 0;
    std::uint8_t signature[kExecutableSignatureSize];
    std::uint8_t field[kPayloadOffsetFieldSize];
    std::uint64_t readCount = 0;
    std::int64_t position = 0;
    std::uint32_t code = SeekFile(fileHandle, 0, SeekOrigin::kStart, &position);
    if (code == 0) code = ReadFileBytes(fileHandle, signature, std::size(signature), &readCount);
    if (code != 0) return code;
    *fieldOffset = PayloadOffsetFieldOf(signature, static_cast<std::size_t>(readCount));
    code = SeekFile(fileHandle, *fieldOffset, SeekOrigin::kStart, &position);
    if (code == 0) code = ReadFileBytes(fileHandle, field, std::size(field), &readCount);
    if (code != 0) return code;
    if (readCount != std::size(field)) return kErrorReadFault;
    *payloadOffset = ReadLe32(field);
    return 0;
}

bool ReadPayloadHeader(int fileHandle, PayloadHeader* header) {
    *header = PayloadHeader{};
    std::uint32_t fieldOffset = 0;
    if (ReadPayloadOffsetField(fileHandle, &fieldOffset, &header->payloadOffset) != 0) return false;
    std::uint64_t readCount = 0;
    std::int64_t position = 0;
    // Seeking past the end is allowed; the reads there find nothing.
    if (SeekFile(fileHandle, header->payloadOffset, SeekOrigin::kStart, &position) != 0) {
        return false;
    }
    header->disketteCount = ReadByteOrZero(fileHandle);
    header->descriptionLength = ReadByteOrZero(fileHandle);
    const std::uint32_t length = header->descriptionLength;
    static_assert(kDescriptionSize > 255, "a length byte always fits with its NUL");
    if (ReadFileBytes(fileHandle, reinterpret_cast<std::uint8_t*>(header->description), length,
                      &readCount) != 0 ||
        readCount != length) {
        header->description[0] = '\0';
        return false;
    }
    header->description[length] = '\0';
    header->firstImageOffset = static_cast<std::int64_t>(header->payloadOffset) + 2 + length;
    return true;
}
