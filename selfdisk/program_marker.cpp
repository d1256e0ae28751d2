// program_marker.cpp - the marker itself, in the selfdisk program's constant
// data; nothing refers to it, so it is kept by the attribute "used".
#include "selfdisk/program_marker.h"

#include <iterator>

[[gnu::used]] static constexpr char kProgramMarker[] = "selfdisk carries its payload at the end";

static constexpr bool IsMaskedMarker() {
    for (std::size_t index = 0; index < kProgramMarkerLength; ++index) {
        const std::uint8_t byte = static_cast<std::uint8_t>(kProgramMarker[index]);
        if ((byte ^ kProgramMarkerMask) != kMaskedProgramMarker[index]) return false;
    }
    return true;
}
static_assert(std::size(kProgramMarker) == kProgramMarkerLength + 1, "the marker and its NUL");
static_assert(IsMaskedMarker(), "the masked form is the marker's");
