// scripted_device.cpp - the memory drive of the pipeline tests, and the
// message reporter that logs each message in the same log instead of showing
// it (console/message.cpp's reporter is not linked into these tests).
#include "tests/pipeline/scripted_device.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "console/keys.h"
#include "console/message.h"
#include "console/system_error.h"
#include "diskette/device_platform.h"
#include "tests/diskette/key_queue.h"

struct DeviceHandle {
    int serial;
};

namespace {

constexpr std::uint8_t kFormatFiller = 0xF6;
constexpr std::uint8_t kBlankByte = 0xE5;   // what a track side never written reads as

struct DriveState {
    DriveScript script;
    std::vector<DriveCall> calls;
    std::map<std::uint32_t, std::vector<std::uint8_t>> contents;
    int openHandles = 0;
    int serial = 0;
    int pauses = 0;
    std::size_t prompts = 0;
};

DriveState& State() {
    static DriveState state;
    return state;
}

bool IsTrackSideStep(DriveStep step) {
    return step == DriveStep::kFormat || step == DriveStep::kWrite || step == DriveStep::kRead ||
           step == DriveStep::kReadDiffers || step == DriveStep::kReadSector;
}

// The code the script gives this call of step, 0 when none; counts the
// failure off.
std::uint32_t ScriptedCode(DriveStep step, std::uint32_t track = 0, std::uint32_t side = 0,
                           std::uint32_t sector = 0) {
    for (DriveFailure& failure : State().script.failures) {
        if (failure.step != step || failure.times == 0) continue;
        if (IsTrackSideStep(step) &&
            ((failure.track != kAnyTrack && failure.track != track) ||
             (failure.side != kAnyTrack && failure.side != side) ||
             (failure.sector != kAnyTrack && failure.sector != sector))) {
            continue;
        }
        if (failure.times > 0) --failure.times;
        return failure.code;
    }
    return 0;
}

std::uint32_t Log(const char* name, std::uint32_t code, std::uint32_t track = 0,
                  std::uint32_t side = 0) {
    DriveCall call;
    call.name = name;
    call.code = code;
    call.track = track;
    call.side = side;
    State().calls.push_back(call);
    return code;
}

// Checks a track side request as the real device does: side 0 or 1, a whole
// track side of at most kTrackSideBufferSize bytes.
std::uint32_t CheckTrackSide(std::uint32_t side, std::uint32_t sectorsPerTrack,
                             std::uint32_t bytesPerSector) {
    const std::uint64_t byteCount = static_cast<std::uint64_t>(sectorsPerTrack) * bytesPerSector;
    if (side > 1 || byteCount == 0 || byteCount > kTrackSideBufferSize) {
        return kErrorInvalidParameter;
    }
    return 0;
}

std::uint32_t TrackSideTransfer(const char* name, DriveStep step, std::uint32_t side,
                                std::uint32_t track, std::uint32_t sectorsPerTrack,
                                std::uint32_t bytesPerSector) {
    std::uint32_t code = CheckTrackSide(side, sectorsPerTrack, bytesPerSector);
    if (code == 0) code = ScriptedCode(step, track, side);
    Log(name, code, track, side);
    State().calls.back().sectorsPerTrack = sectorsPerTrack;
    State().calls.back().bytesPerSector = bytesPerSector;
    return code;
}

}  // namespace

void ResetDrive(const DriveScript& script) {
    DriveState& state = State();
    state.script = script;
    state.calls.clear();
    state.contents = script.contents;
    state.openHandles = 0;
    state.pauses = 0;
    state.prompts = 0;
}

const std::vector<DriveCall>& DriveCalls() { return State().calls; }

static std::string DescribeCall(const DriveCall& call) {
    char line[1200];
    if (call.name == "message") {
        std::snprintf(line, sizeof(line), "message 0x%X %u %s", static_cast<unsigned>(call.flags),
                      static_cast<unsigned>(call.code), call.text.c_str());
        return line;
    }
    int length = 0;
    if (call.name == "open" || call.name == "set layout") {
        length = std::snprintf(line, sizeof(line), "%s %s", call.name.c_str(), call.text.c_str());
    } else if (call.name == "format" || call.name == "write" || call.name == "read") {
        length = std::snprintf(line, sizeof(line), "%s %u/%u", call.name.c_str(),
                               static_cast<unsigned>(call.track), static_cast<unsigned>(call.side));
    } else if (call.name == "read sector") {
        length = std::snprintf(line, sizeof(line), "read sector %u/%u/%u",
                               static_cast<unsigned>(call.track), static_cast<unsigned>(call.side),
                               static_cast<unsigned>(call.sector));
    } else if (call.name == "open for reading") {
        length = std::snprintf(line, sizeof(line), "open for reading %s", call.text.c_str());
    } else if (call.name == "pause") {
        length = std::snprintf(line, sizeof(line), "pause %u", static_cast<unsigned>(call.track));
    } else {
        length = std::snprintf(line, sizeof(line), "%s", call.name.c_str());
    }
    if (call.code != 0 && length > 0) {
        std::snprintf(line + length, sizeof(line) - static_cast<std::size_t>(length), " = %u",
                      static_cast<unsigned>(call.code));
    }
    return line;
}

std::vector<std::string> DriveLogLines() {
    std::vector<std::string> lines;
    for (const DriveCall& call : State().calls) lines.push_back(DescribeCall(call));
    return lines;
}

std::vector<std::string> DriveLogLines(const std::string& name) {
    std::vector<std::string> lines;
    for (const DriveCall& call : State().calls) {
        if (call.name == name) lines.push_back(DescribeCall(call));
    }
    return lines;
}

const std::map<std::uint32_t, std::vector<std::uint8_t>>& DriveContents() {
    return State().contents;
}

int OpenHandleCount() { return State().openHandles; }

// ---------------------------------------------------------------------------
// diskette/device.h

std::uint32_t DevicePathForDrive(const char* driveName, char* path, std::size_t pathSize) {
    const int length = std::snprintf(path, pathSize, "scripted:%s", driveName);
    if (length < 0 || static_cast<std::size_t>(length) >= pathSize) return kErrorFileNameTooLong;
    return 0;
}

bool IsDriveTheFile(const char* driveName, int fileHandle) {
    (void)driveName;
    (void)fileHandle;
    return false;   // the scripted drive is no file
}

bool IsDisketteDrive(const char* driveName) {
    Log("is diskette drive", 0);
    State().calls.back().text = driveName;
    return true;
}

std::uint32_t OpenDiskette(const char* driveName, DeviceHandle** device) {
    *device = nullptr;
    const std::uint32_t code = ScriptedCode(DriveStep::kOpen);
    Log("open", code);
    State().calls.back().text = driveName;
    if (code != 0) return code;
    *device = new DeviceHandle{++State().serial};
    ++State().openHandles;
    return 0;
}

std::uint32_t OpenDisketteForReading(const char* driveName, DeviceHandle** device) {
    *device = nullptr;
    const std::uint32_t code = ScriptedCode(DriveStep::kOpen);
    Log("open for reading", code);
    State().calls.back().text = driveName;
    if (code != 0) return code;
    *device = new DeviceHandle{++State().serial};
    ++State().openHandles;
    return 0;
}

std::uint32_t SetReadLayout(DeviceHandle* device, const DriveGeometry* layout) {
    if (device == nullptr) return Log("set layout", kErrorInvalidHandle);
    Log("set layout", ScriptedCode(DriveStep::kSetLayout));
    char text[64];
    std::snprintf(text, sizeof(text), "%u/%u/%u", static_cast<unsigned>(layout->cylinders),
                  static_cast<unsigned>(layout->heads),
                  static_cast<unsigned>(layout->sectorsPerTrack));
    State().calls.back().text = text;
    return State().calls.back().code;
}

std::uint32_t CheckDisketteUnchanged(DeviceHandle* device) {
    if (device == nullptr) return Log("check unchanged", kErrorInvalidHandle);
    return Log("check unchanged", ScriptedCode(DriveStep::kCheckUnchanged));
}

std::uint32_t QueryDriveGeometry(DeviceHandle* device, DriveGeometry* geometry) {
    *geometry = DriveGeometry{};
    if (device == nullptr) return Log("geometry", kErrorInvalidHandle);
    const std::uint32_t code = ScriptedCode(DriveStep::kGeometry);
    if (code == 0) *geometry = State().script.geometry;
    return Log("geometry", code);
}

std::uint32_t SetVolumeLock(DeviceHandle* device, bool lock) {
    const char* name = lock ? "lock" : "unlock";
    if (device == nullptr) return Log(name, kErrorInvalidHandle);
    return Log(name, ScriptedCode(lock ? DriveStep::kLock : DriveStep::kUnlock));
}

std::uint32_t PrepareFormat(DeviceHandle* device, DeviceParameterBlock parameters) {
    (void)parameters;
    if (device == nullptr) return Log("prepare", kErrorInvalidHandle);
    return Log("prepare", ScriptedCode(DriveStep::kPrepare));
}

std::uint32_t FormatTrack(DeviceHandle* device, std::uint32_t side, std::uint32_t track,
                          std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector,
                          std::uint8_t deviceType, std::uint8_t mediaDescriptor) {
    if (device == nullptr) return Log("format", kErrorInvalidHandle, track, side);
    const std::uint32_t code = TrackSideTransfer("format", DriveStep::kFormat, side, track,
                                                 sectorsPerTrack, bytesPerSector);
    State().calls.back().deviceType = deviceType;
    State().calls.back().mediaDescriptor = mediaDescriptor;
    if (code != 0) return code;
    State().contents[track * 2 + side].assign(
        static_cast<std::size_t>(sectorsPerTrack) * bytesPerSector, kFormatFiller);
    return 0;
}

std::uint32_t WriteTrack(DeviceHandle* device, const std::uint8_t* buffer, std::uint32_t side,
                         std::uint32_t track, std::uint32_t sectorsPerTrack,
                         std::uint32_t bytesPerSector) {
    if (device == nullptr) return Log("write", kErrorInvalidHandle, track, side);
    for (const KeyDuringWrite& press : State().script.keys) {
        if (press.track == track && press.side == side) PushKey(press.key);
    }
    const std::uint32_t code = TrackSideTransfer("write", DriveStep::kWrite, side, track,
                                                 sectorsPerTrack, bytesPerSector);
    if (code != 0) return code;
    const std::size_t byteCount = static_cast<std::size_t>(sectorsPerTrack) * bytesPerSector;
    State().contents[track * 2 + side].assign(buffer, buffer + byteCount);
    return 0;
}

std::uint32_t ReadTrack(DeviceHandle* device, std::uint8_t* buffer, std::uint32_t side,
                        std::uint32_t track, std::uint32_t sectorsPerTrack,
                        std::uint32_t bytesPerSector) {
    if (device == nullptr) return Log("read", kErrorInvalidHandle, track, side);
    for (const KeyDuringWrite& press : State().script.keysDuringRead) {
        if (press.track == track && press.side == side) PushKey(press.key);
    }
    const std::uint32_t code = TrackSideTransfer("read", DriveStep::kRead, side, track,
                                                 sectorsPerTrack, bytesPerSector);
    if (code != 0) return code;
    const std::size_t byteCount = static_cast<std::size_t>(sectorsPerTrack) * bytesPerSector;
    const auto found = State().contents.find(track * 2 + side);
    if (found == State().contents.end()) {
        std::memset(buffer, kBlankByte, byteCount);
    } else {
        std::memcpy(buffer, found->second.data(), byteCount);
    }
    // One byte in the middle of the track side comes back changed.
    if (ScriptedCode(DriveStep::kReadDiffers, track, side) != 0) buffer[byteCount / 2] ^= 0x01;
    return 0;
}

std::uint32_t ReadSector(DeviceHandle* device, std::uint8_t* buffer, std::uint32_t side,
                         std::uint32_t track, std::uint32_t sector, std::uint32_t sectorsPerTrack,
                         std::uint32_t bytesPerSector) {
    if (device == nullptr) return Log("read sector", kErrorInvalidHandle, track, side);
    std::uint32_t code = CheckTrackSide(side, sectorsPerTrack, bytesPerSector);
    if (code == 0 && sector >= sectorsPerTrack) code = kErrorInvalidParameter;
    if (code == 0) code = ScriptedCode(DriveStep::kReadSector, track, side, sector);
    Log("read sector", code, track, side);
    State().calls.back().sectorsPerTrack = sectorsPerTrack;
    State().calls.back().bytesPerSector = bytesPerSector;
    State().calls.back().sector = sector;
    if (code != 0) return code;
    const auto found = State().contents.find(track * 2 + side);
    const std::size_t offset = static_cast<std::size_t>(sector) * bytesPerSector;
    if (found == State().contents.end() || found->second.size() < offset + bytesPerSector) {
        std::memset(buffer, kBlankByte, bytesPerSector);
    } else {
        std::memcpy(buffer, found->second.data() + offset, bytesPerSector);
    }
    return 0;
}

std::uint32_t ReadFirstSector(DeviceHandle* device, std::uint8_t* buffer) {
    if (device == nullptr) return Log("first sector", kErrorInvalidHandle);
    const std::uint32_t code = ScriptedCode(DriveStep::kReadFirstSector);
    if (code == 0) {
        const auto found = State().contents.find(0);
        if (found == State().contents.end() || found->second.size() < kSectorSize) {
            std::memset(buffer, kBlankByte, kSectorSize);
        } else {
            std::memcpy(buffer, found->second.data(), kSectorSize);
        }
    }
    return Log("first sector", code);
}

std::uint32_t FlushDiskette(DeviceHandle* device) {
    if (device == nullptr) return Log("flush", kErrorInvalidHandle);
    return Log("flush", ScriptedCode(DriveStep::kFlush));
}

std::uint32_t DismountVolume(DeviceHandle* device, DeviceParameterBlock parameters) {
    (void)parameters;
    if (device == nullptr) return Log("dismount", kErrorInvalidHandle);
    return Log("dismount", ScriptedCode(DriveStep::kDismount));
}

void CloseDiskette(DeviceHandle* device) {
    if (device == nullptr) return;
    Log("close", 0);
    --State().openHandles;
    delete device;
}

// ---------------------------------------------------------------------------
// diskette/device_platform.h

void PauseMilliseconds(std::uint32_t milliseconds) {
    Log("pause", 0, milliseconds);
    if (++State().pauses == kPauseLimit) PushKey(kKeyEsc);
}

bool ReadMediaGeneration(DeviceHandle* device, std::uint64_t* generation) {
    (void)device;
    (void)generation;
    return false;   // a drive that keeps no count of diskette changes
}

// ---------------------------------------------------------------------------
// console/message.h

void ReportMessage(const char* format, std::uint32_t flags, std::uint32_t systemCode, ...) {
    char text[kMessageBufferSize];
    std::va_list arguments;
    va_start(arguments, systemCode);
    if (std::vsnprintf(text, sizeof(text), format, arguments) < 0) text[0] = '\0';
    va_end(arguments);
    DriveCall call;
    call.name = "message";
    call.code = systemCode;
    call.flags = flags;
    call.text = text;
    DriveState& state = State();
    state.calls.push_back(call);
    if (flags == kMessagePrompt && state.prompts < state.script.keysAtPrompts.size()) {
        for (int key : state.script.keysAtPrompts[state.prompts]) PushKey(key);
        ++state.prompts;
    }
}
