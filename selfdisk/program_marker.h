// program_marker.h - what tells a selfdisk program from any other file: a
// byte string that only the selfdisk program carries (program_marker.cpp,
// linked into the selfdisk program alone) and that mkselfdisk looks for in
// its stub. Here it is kept masked, each byte XOR kProgramMarkerMask, so that
// mkselfdisk and the libraries it shares with selfdisk do not carry it too.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kProgramMarkerLength = 39;   // bytes, no NUL
inline constexpr std::uint8_t kProgramMarkerMask = 0x5A;
inline constexpr std::uint8_t kMaskedProgramMarker[kProgramMarkerLength] = {
    0x29, 0x3F, 0x36, 0x3C, 0x3E, 0x33, 0x29, 0x31, 0x7A, 0x39, 0x3B, 0x28, 0x28,
    0x33, 0x3F, 0x29, 0x7A, 0x33, 0x2E, 0x29, 0x7A, 0x2A, 0x3B, 0x23, 0x36, 0x35,
    0x3B, 0x3E, 0x7A, 0x3B, 0x2E, 0x7A, 0x2E, 0x32, 0x3F, 0x7A, 0x3F, 0x34, 0x3E,
};
