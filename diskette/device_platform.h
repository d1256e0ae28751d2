// device_platform.h - what the portable part of the device layer needs of the
// platform beyond device.h; implemented in device_<platform>.cpp.
#pragma once
#include <cstdint>

#include "diskette/device.h"

// Sleeps for the given number of milliseconds.
void PauseMilliseconds(std::uint32_t milliseconds);

// Sets *generation to the drive's count of diskette changes and returns true,
// or returns false where the drive keeps no such count.
[[nodiscard]] bool ReadMediaGeneration(DeviceHandle* device, std::uint64_t* generation);
