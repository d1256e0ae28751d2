// payload_win.cpp - a Windows executable keeps the payload offset in its
// DOS header, at file offset 2.
#include "selfdisk/payload.h"

const std::uint32_t kPayloadOffsetField = kWindowsPayloadOffsetField;
