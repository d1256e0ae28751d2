// payload.h - the payload a self-creating diskette carries in its own file,
// after its program code: at the payload offset P (a 32-bit field at a fixed
// place in the executable) the diskette count (1 byte), the description's
// length L (1 byte), the description (L bytes of code page 437, lines
// separated by LF, no NUL), then the images back to back, each one exactly as
// long as the image reader consumes it. Multi-byte values are little-endian.
#pragma once
#include <cstddef>
#include <cstdint>

// File offset of the 32-bit payload offset field: four bytes of the
// executable that the loader ignores. A Windows executable keeps it at 2,
// in its DOS header's last-page byte count and page count, which Windows
// does not use for a 32-bit or 64-bit program; an ELF executable at 12,
// inside the padding of its identification (bytes 9 to 15).
inline constexpr std::uint32_t kWindowsPayloadOffsetField = 2;
inline constexpr std::uint32_t kElfPayloadOffsetField = 12;
inline constexpr std::uint32_t kPayloadOffsetFieldSize = 4;

// The first bytes of an executable that tell its kind: "MZ" for a Windows one.
inline constexpr std::size_t kExecutableSignatureSize = 2;

// The offset field of the executable that begins with signature
// (signatureLength bytes, fewer than kExecutableSignatureSize when the file
// is that short): kWindowsPayloadOffsetField after "MZ",
// kElfPayloadOffsetField after anything else (0x7F "ELF", and a file too
// short or too damaged to tell). So a builder on one platform can make a
// self-creating diskette of the other.
[[nodiscard]] std::uint32_t PayloadOffsetFieldOf(const std::uint8_t* signature,
                                                 std::size_t signatureLength);

// Reads the payload offset field of the open file fileHandle: *fieldOffset
// gets where it is (PayloadOffsetFieldOf the file's first bytes; 0 when those
// cannot be read), *payloadOffset the value it holds. Returns 0;
// kErrorReadFault (30) when the file ends before the field does; or the
// system error code of a failed seek or read. Reports nothing.
[[nodiscard]] std::uint32_t ReadPayloadOffsetField(int fileHandle, std::uint32_t* fieldOffset,
                                                   std::uint32_t* payloadOffset);

inline constexpr std::size_t kMaximumDisketteCount = 255;
inline constexpr std::size_t kMaximumDescriptionLength = 255;
inline constexpr std::size_t kDescriptionSize = kMaximumDescriptionLength + 1;   // NUL included
inline constexpr char kDescriptionLineEnd = '\n';

struct PayloadHeader {
    std::uint32_t payloadOffset;           // P, as the field holds it
    std::uint32_t disketteCount;           // 0 to 255; 0 when nothing could be read at P
    std::uint32_t descriptionLength;       // L, 0 to 255; 0 when nothing could be read at P + 1
    char description[kDescriptionSize];    // L bytes and a NUL
    std::int64_t firstImageOffset;         // P + 2 + L: where image 1 begins
};

// Reads the payload header of the open file fileHandle as the self-creating
// diskette does: P from the offset field (ReadPayloadOffsetField), then at P
// the count, the length and the description. A count or a length beyond the
// end of the file is 0, so a payload offset at or past the end gives no
// diskette and no description.
// Returns false when the file is too short to hold the offset field or the
// description ends before its length; header is then incomplete. Reports
// nothing.
[[nodiscard]] bool ReadPayloadHeader(int fileHandle, PayloadHeader* header);
