// payload_posix.cpp - the executables of a POSIX system are ELF files, which
// keep the payload offset inside the padding of their identification.
#include "selfdisk/payload.h"

const std::uint32_t kPayloadOffsetField = kElfPayloadOffsetField;
