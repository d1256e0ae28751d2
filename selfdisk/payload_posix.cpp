// payload_posix.cpp - where an ELF executable keeps the payload offset:
// bytes 12 to 15, inside the padding of the ELF identification (bytes 9 to
// 15), which the loader does not read. The first bytes of a Windows
// executable's DOS header would be offset 2.
#include "selfdisk/payload.h"

const std::uint32_t kPayloadOffsetField = 12;
