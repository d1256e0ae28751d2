// payload_stamp_main.cpp - a build step run after every link of the
// self-creating diskette: "payload_stamp PROGRAM" writes the program file's
// own length into its payload offset field, so that a payload appended at the
// end of the file is found without changing the field, and the program as
// built (without payload) finds a payload of no diskettes. Exit code 0, or 3
// after a message.
#include <cstdint>
#include <iterator>

#include "console/message.h"
#include "image/byte_order.h"
#include "image/image_file.h"
#include "mkselfdisk/output_file.h"
#include "selfdisk/payload.h"

int main(int argumentCount, char** arguments) {
    if (argumentCount != 2) {
        ReportMessage("Usage: payload_stamp PROGRAM", kMessageError, 0);
        return kExitError;
    }
    const char* path = arguments[1];
    // The program's own kind of executable says where its field is.
    std::uint8_t signature[kExecutableSignatureSize] = {};
    std::uint64_t readCount = 0;
    const int readHandle = OpenImageFile(path);
    if (readHandle < 0 ||
        ReadFileBytes(readHandle, signature, std::size(signature), &readCount) != 0) {
        readCount = 0;
    }
    CloseImageFile(readHandle);
    const std::uint32_t fieldOffset =
        PayloadOffsetFieldOf(signature, static_cast<std::size_t>(readCount));
    int fileHandle = -1;
    std::uint64_t length = 0;
    std::uint32_t code = OpenFileForUpdate(path, &fileHandle);
    if (code == 0) code = GetFileLength(fileHandle, &length);
    if (code != 0) {
        ReportMessage("'%s' could not be opened.", kMessageError, code, path);
        CloseOutputFile(fileHandle, nullptr);
        return kExitError;
    }
    if (length < fieldOffset + kPayloadOffsetFieldSize || length > UINT32_MAX) {
        ReportMessage("'%s' has no room for a 32-bit payload offset.", kMessageError, 0, path);
        CloseOutputFile(fileHandle, nullptr);
        return kExitError;
    }
    std::uint8_t field[kPayloadOffsetFieldSize];
    WriteLe32(field, static_cast<std::uint32_t>(length));
    code = WriteFileBytesAt(fileHandle, fieldOffset, field, kPayloadOffsetFieldSize);
    CloseOutputFile(fileHandle, nullptr);
    if (code != 0) {
        ReportMessage("'%s' could not be written.", kMessageError, code, path);
        return kExitError;
    }
    return kExitSuccess;
}
