// usb_transport_linux.cpp - the one transport of UFI commands on Linux:
// SG_IO, which the usb-storage driver passes to the drive unchanged. A file
// of its own, so that a test program can link a scripted drive in its place.
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/system_error.h"
#include "console/text.h"
#include "diskette/usb_floppy.h"

// A drive takes a few seconds for a format; a drive that has not answered
// after this long will not.
static constexpr unsigned kCommandTimeoutMilliseconds = 100000;
static constexpr int kHostTimedOut = 3;   // the host adapter's status DID_TIME_OUT

// One SG_IO request on descriptor; 0 with *answer, or errno's value in
// *errorNumber and its code.
static std::uint32_t SendThrough(int descriptor, const UfiCommand* command, UfiAnswer* answer,
                                 int* errorNumber) {
    unsigned char block[kUfiCommandSize];
    std::memcpy(block, command->block, sizeof(block));
    sg_io_hdr_t request{};
    request.interface_id = 'S';
    request.cmd_len = sizeof(block);
    request.cmdp = block;
    switch (command->direction) {
        case UfiDirection::kNone: request.dxfer_direction = SG_DXFER_NONE; break;
        case UfiDirection::kFromDrive: request.dxfer_direction = SG_DXFER_FROM_DEV; break;
        case UfiDirection::kToDrive: request.dxfer_direction = SG_DXFER_TO_DEV; break;
    }
    request.dxferp = command->data;
    request.dxfer_len = static_cast<unsigned>(command->dataSize);
    request.sbp = answer->sense;
    request.mx_sb_len = sizeof(answer->sense);
    request.timeout = kCommandTimeoutMilliseconds;
    *errorNumber = 0;
    if (ioctl(descriptor, SG_IO, &request) != 0) {
        *errorNumber = errno;
        return SystemCodeFromPlatformError(errno);
    }
    if (request.host_status == kHostTimedOut) return kErrorTimeout;
    if (request.host_status != 0) return kErrorGeneralFailure;
    answer->status = request.status;
    answer->senseLength = request.sb_len_wr;
    const int resid = request.resid;
    answer->dataCount = resid > 0 && static_cast<std::size_t>(resid) <= command->dataSize
                            ? command->dataSize - static_cast<std::size_t>(resid)
                            : command->dataSize;
    return 0;
}

// Opens the SCSI generic node of the block device open as descriptor, the
// one its sysfs entry names; -1 when it has none.
static int OpenGenericNode(int descriptor) {
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISBLK(info.st_mode)) return -1;
    char directoryName[kPathSize];
    std::snprintf(directoryName, sizeof(directoryName), "/sys/dev/block/%u:%u/device/scsi_generic",
                  major(info.st_rdev), minor(info.st_rdev));
    DIR* directory = opendir(directoryName);
    if (directory == nullptr) return -1;
    char nodeName[kPathSize] = {};
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        if (!FormatText(nodeName, sizeof(nodeName), "/dev/%s", entry->d_name)) nodeName[0] = '\0';
        break;
    }
    closedir(directory);
    return nodeName[0] != '\0' ? open(nodeName, O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
}

std::uint32_t SendUfiCommand(int descriptor, const UfiCommand* command, UfiAnswer* answer) {
    int errorNumber = 0;
    const std::uint32_t code = SendThrough(descriptor, command, answer, &errorNumber);
    // A block device that takes no SG_IO at all may still have a generic node.
    if (errorNumber != ENOTTY && errorNumber != EINVAL) return code;
    const int node = OpenGenericNode(descriptor);
    if (node < 0) return code;
    const std::uint32_t nodeCode = SendThrough(node, command, answer, &errorNumber);
    close(node);
    return nodeCode;
}
