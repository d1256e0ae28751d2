// crc32.h - the checksum a native image may carry over the diskette it holds.
#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32 in its reflected form (table polynomial 0xEDB88320, register starts
// at 0xFFFFFFFF, result XORed with 0xFFFFFFFF) over length bytes. A length of
// 0 gives 0. "123456789" gives 0xCBF43926.
[[nodiscard]] std::uint32_t ComputeCrc32(const std::uint8_t* bytes, std::size_t length);
