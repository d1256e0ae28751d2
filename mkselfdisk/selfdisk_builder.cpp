// selfdisk_builder.cpp - the stub, the payload and its proof.
#include "mkselfdisk/selfdisk_builder.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/console.h"
#include "console/message.h"
#include "console/system_error.h"
#include "console/text.h"
#include "image/byte_order.h"
#include "image/crc32.h"
#include "image/image_file.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "image/output_file.h"
#include "mkselfdisk/description.h"
#include "selfdisk/payload.h"
#include "selfdisk/program_marker.h"

static constexpr std::size_t kCopyBufferSize = 32768;   // bytes moved per read while copying

// The output while it is being written.
struct Output {
    int fileHandle;                        // the new file beside the output
    std::uint64_t length;                  // bytes written so far: the next one goes here
    const char* path;                      // the output's own name, for messages
};

// Where each image went, for the proof.
struct PlacedImage {
    std::int64_t startOffset;              // file offset of its first byte
    std::int64_t endOffset;                // just past its last byte
    std::uint32_t diskCrc;                 // CRC-32 of the diskette the reader rebuilds from it
    ImageStorage storage;
};

static const char* StorageText(ImageStorage storage) {
    switch (storage) {
        case ImageStorage::kNativeComplete:
            return "native, complete, CRC-32";
        case ImageStorage::kNativeSparse:
            return "native, used track sides only, CRC-32";
        case ImageStorage::kAsItIs:
            break;
    }
    return "as it is";
}

// Returns 1, or 0 after reporting.
static int AppendBytes(Output* output, const std::uint8_t* bytes, std::uint64_t byteCount) {
    const std::uint32_t code = WriteFileBytesAt(output->fileHandle, output->length, bytes, byteCount);
    if (code != 0) {
        ReportMessage("'%s' could not be written.", kMessageError, code, output->path);
        return 0;
    }
    output->length += byteCount;
    return 1;
}

// Appends the first byteCount bytes of the open file sourceHandle. Returns
// 1, or 0 after reporting.
static int AppendFromFile(Output* output, int sourceHandle, const char* sourcePath,
                          std::uint64_t byteCount) {
    std::int64_t position = 0;
    std::uint32_t code = SeekFile(sourceHandle, 0, SeekOrigin::kStart, &position);
    std::uint8_t buffer[kCopyBufferSize];
    for (std::uint64_t done = 0; code == 0 && done < byteCount;) {
        const std::uint64_t left = byteCount - done;
        const std::uint64_t request = left < std::size(buffer) ? left : std::size(buffer);
        std::uint64_t readCount = 0;
        code = ReadFileBytes(sourceHandle, buffer, request, &readCount);
        if (code == 0 && readCount != request) code = kErrorReadFault;   // the file shrank
        if (code != 0) break;
        if (AppendBytes(output, buffer, readCount) == 0) return 0;
        done += readCount;
    }
    if (code != 0) {
        ReportMessage("'%s' could not be read.", kMessageError, code, sourcePath);
        return 0;
    }
    return 1;
}

// True when the kProgramMarkerLength bytes at bytes are the marker; compared
// masked, so that this program never holds the marker itself.
static bool IsProgramMarkerAt(const std::uint8_t* bytes) {
    for (std::size_t index = 0; index < kProgramMarkerLength; ++index) {
        if ((bytes[index] ^ kProgramMarkerMask) != kMaskedProgramMarker[index]) return false;
    }
    return true;
}

// Looks for the marker only a selfdisk program carries in the first length
// bytes of the open file stubHandle. Returns 0 with *found, or the system
// error code of a failed seek or read.
static std::uint32_t FindProgramMarker(int stubHandle, std::uint64_t length, bool* found) {
    *found = false;
    std::int64_t position = 0;
    std::uint32_t code = SeekFile(stubHandle, 0, SeekOrigin::kStart, &position);
    // The last kProgramMarkerLength - 1 bytes of a piece are kept before the
    // next one, so a marker across two pieces is found too.
    std::uint8_t buffer[kCopyBufferSize];
    static_assert(kCopyBufferSize > kProgramMarkerLength, "a piece holds a marker");
    std::size_t kept = 0;
    for (std::uint64_t done = 0; code == 0 && !*found && done < length;) {
        const std::uint64_t left = length - done;
        const std::size_t room = std::size(buffer) - kept;
        const std::size_t request = left < room ? static_cast<std::size_t>(left) : room;
        std::uint64_t readCount = 0;
        code = ReadFileBytes(stubHandle, buffer + kept, request, &readCount);
        if (code == 0 && readCount != request) code = kErrorReadFault;   // the file shrank
        if (code != 0) break;
        done += readCount;
        const std::size_t filled = kept + request;
        for (std::size_t start = 0; !*found && start + kProgramMarkerLength <= filled; ++start) {
            *found = IsProgramMarkerAt(buffer + start);
        }
        kept = filled < kProgramMarkerLength ? filled : kProgramMarkerLength - 1;
        std::memmove(buffer, buffer + filled - kept, kept);
    }
    return code;
}

// Appends the stub and sets its payload offset field to the stub's length.
// Returns 1 with *stubLength, or 0 after reporting.
static int AppendStub(Output* output, const char* stubPath, std::uint32_t* stubLength) {
    const int stubHandle = OpenImageFile(stubPath);
    if (stubHandle < 0) {
        ReportMessage("The selfdisk program '%s' could not be opened.", kMessageError, 0, stubPath);
        return 0;
    }
    std::uint64_t length = 0;
    // The stub's own kind of executable says where its field is: a Windows
    // stub can be given its payload here, and the other way round.
    std::uint32_t fieldOffset = 0;
    std::uint32_t fieldValue = 0;
    std::uint32_t code = GetFileLength(stubHandle, &length);
    if (code == 0) {
        code = ReadPayloadOffsetField(stubHandle, &fieldOffset, &fieldValue);
        // A file that ends before the field has no room for it; fieldOffset
        // is 0 only when its first bytes could not be read.
        if (fieldOffset != 0 && length < fieldOffset + kPayloadOffsetFieldSize) code = 0;
    }
    int result = 0;
    bool marked = false;
    if (code != 0) {
        ReportMessage("The selfdisk program '%s' could not be read.", kMessageError, code, stubPath);
    } else if (length < fieldOffset + kPayloadOffsetFieldSize || length > UINT32_MAX) {
        ReportMessage("'%s' has no room for a payload offset: it is no selfdisk program.",
                      kMessageError, 0, stubPath);
    } else if (fieldValue != 0 && fieldValue != length) {
        // The field of a selfdisk program as built holds its own length; a
        // smaller value points at a payload the file already carries.
        ReportMessage("'%s' already carries a payload, or is no selfdisk program.", kMessageError, 0,
                      stubPath);
    } else if ((code = FindProgramMarker(stubHandle, length, &marked)) != 0) {
        ReportMessage("The selfdisk program '%s' could not be read.", kMessageError, code, stubPath);
    } else if (!marked) {
        ReportMessage("'%s' is no selfdisk program.", kMessageError, 0, stubPath);
    } else {
        result = AppendFromFile(output, stubHandle, stubPath, length);
    }
    CloseImageFile(stubHandle);
    if (result == 0) return 0;
    *stubLength = static_cast<std::uint32_t>(length);
    std::uint8_t field[kPayloadOffsetFieldSize];
    WriteLe32(field, *stubLength);
    code = WriteFileBytesAt(output->fileHandle, fieldOffset, field, std::size(field));
    if (code != 0) {
        ReportMessage("'%s' could not be written.", kMessageError, code, output->path);
        return 0;
    }
    return 1;
}

// Appends the image in image (as the reader left it) in the native format
// with a CRC-32, sparse where that loses nothing (WriteNativeImage). Returns
// 1 with *storage and *diskCrc (over the diskette as the reader will rebuild
// it), storage kAsItIs when the native header cannot describe the image and
// nothing was appended; 0 after reporting.
static int AppendCompacted(Output* output, ImageRecord* image, ImageStorage* storage,
                           std::uint32_t* diskCrc) {
    NativeResult native{};
    if (WriteNativeImage(image, true, output->fileHandle, output->length, output->path, nullptr,
                         &native) == 0) {
        return 0;
    }
    output->length += native.byteCount;
    *diskCrc = native.diskCrc;
    switch (native.storage) {
        case NativeStorage::kComplete: *storage = ImageStorage::kNativeComplete; break;
        case NativeStorage::kSparse: *storage = ImageStorage::kNativeSparse; break;
        case NativeStorage::kNone: *storage = ImageStorage::kAsItIs; break;
    }
    return 1;
}

// Reads the image file path and appends it. Returns 1, or 0 after reporting.
static int AppendImage(Output* output, const char* path, bool compact, PlacedImage* placed) {
    ImageRecord image{};
    if (!CopyText(image.imageFileName, std::size(image.imageFileName), path)) {
        ReportMessage("The path of an image is longer than %u characters: '%.60s...'", kMessageError,
                      0, static_cast<unsigned>(std::size(image.imageFileName) - 1), path);
        return 0;
    }
    image.fileHandle = OpenImageFile(path);
    if (image.fileHandle < 0) {
        ReportMessage("Image data of '%s' could not be accessed.", kMessageError, 0, path);
        return 0;
    }
    placed->startOffset = static_cast<std::int64_t>(output->length);
    placed->storage = ImageStorage::kAsItIs;
    int result = ReadImage(&image, nullptr);
    // The reader only warns of a CRC that does not match; a compacted image
    // gets a CRC of its own, which would hide the damage for good.
    if (result == 1 && compact && image.crcMismatch) {
        ReportMessage("'%s' does not match its own CRC; stored anew with -c, it would seem sound.",
                      kMessageError, 0, path);
        result = 0;
    }
    if (result == 1 && compact) {
        result = AppendCompacted(output, &image, &placed->storage, &placed->diskCrc);
    }
    if (result == 1 && placed->storage == ImageStorage::kAsItIs) {
        // The reader left the file position just past the image's last byte.
        placed->diskCrc = ComputeCrc32(image.imageBuffer,
                                       static_cast<std::size_t>(ImageBufferSize(&image)));
        result = AppendFromFile(output, image.fileHandle, path,
                                static_cast<std::uint64_t>(image.startOffset));
    }
    placed->endOffset = static_cast<std::int64_t>(output->length);
    FreeImage(&image);
    CloseImageFile(image.fileHandle);
    return result;
}

// Reads the new file back as the self-creating diskette does and compares
// what it finds with what was put there. Returns 1, or 0 after reporting.
static int ProveSelfDisk(const char* temporaryPath, const char* outputPath,
                         const SelfDiskRequest* request, std::uint32_t stubLength,
                         const PlacedImage* placed) {
    ImageRecord image{};
    (void)CopyText(image.imageFileName, std::size(image.imageFileName), outputPath);
    image.fileHandle = OpenImageFile(temporaryPath);
    PayloadHeader header{};
    bool proven = image.fileHandle >= 0 && ReadPayloadHeader(image.fileHandle, &header) &&
                  header.payloadOffset == stubLength &&
                  header.disketteCount == request->imageCount &&
                  header.descriptionLength == request->descriptionLength &&
                  std::memcmp(header.description, request->description,
                              request->descriptionLength) == 0;
    std::uint32_t number = 0;
    image.startOffset = header.firstImageOffset;
    while (proven && number < request->imageCount) {
        const PlacedImage* expected = &placed[number];
        ++number;
        proven = image.startOffset == expected->startOffset && ReadImage(&image, nullptr) == 1 &&
                 image.startOffset == expected->endOffset &&
                 ComputeCrc32(image.imageBuffer,
                              static_cast<std::size_t>(ImageBufferSize(&image))) ==
                     expected->diskCrc;
        FreeImage(&image);
    }
    CloseImageFile(image.fileHandle);
    if (!proven) {
        if (number == 0) {
            ReportMessage("'%s' was not made: its payload header does not read back as written.",
                          kMessageError, 0, outputPath);
        } else {
            ReportMessage("'%s' was not made: diskette %u does not read back as written.",
                          kMessageError, 0, outputPath, static_cast<unsigned>(number));
        }
        return 0;
    }
    return 1;
}

// Everything but the commit, into output. Returns 1, or 0 after reporting.
static int WriteSelfDisk(Output* output, const char* temporaryPath, const SelfDiskRequest* request,
                         PlacedImage* placed) {
    std::uint32_t stubLength = 0;
    if (AppendStub(output, request->stubPath, &stubLength) == 0) return 0;
    const std::uint8_t counts[2] = {static_cast<std::uint8_t>(request->imageCount),
                                    static_cast<std::uint8_t>(request->descriptionLength)};
    if (AppendBytes(output, counts, std::size(counts)) == 0 ||
        AppendBytes(output, reinterpret_cast<const std::uint8_t*>(request->description),
                    request->descriptionLength) == 0) {
        return 0;
    }
    for (std::uint32_t number = 0; number < request->imageCount; ++number) {
        if (AppendImage(output, request->imagePaths[number], request->compact, &placed[number]) == 0) {
            return 0;
        }
    }
    // The reader takes kImageHeaderSize bytes at the start of every image,
    // more than a short image (a sparse one, say) may hold.
    const std::uint64_t headerEnd =
        static_cast<std::uint64_t>(placed[request->imageCount - 1].startOffset) + kImageHeaderSize;
    if (output->length < headerEnd) {
        std::uint8_t zeros[kImageHeaderSize] = {};
        if (AppendBytes(output, zeros, headerEnd - output->length) == 0) return 0;
    }
    return ProveSelfDisk(temporaryPath, output->path, request, stubLength, placed);
}

int BuildSelfDisk(const SelfDiskRequest* request) {
    if (request->imageCount == 0 || request->imageCount > kMaximumDisketteCount) {
        ReportMessage("A self-creating diskette carries 1 to %u images, not %u.", kMessageError, 0,
                      static_cast<unsigned>(kMaximumDisketteCount),
                      static_cast<unsigned>(request->imageCount));
        return 0;
    }
    if (request->descriptionLength > kMaximumDescriptionLength) {
        ReportDescriptionTooLong(kMaximumDescriptionLength);
        return 0;
    }
    char temporaryPath[kPathSize + 8];
    Output output{-1, 0, request->outputPath};
    std::uint32_t code = CreateFileBeside(request->outputPath, temporaryPath,
                                          std::size(temporaryPath), &output.fileHandle);
    if (code != 0) {
        ReportMessage("'%s' could not be created.", kMessageError, code, request->outputPath);
        return 0;
    }
    PlacedImage placed[kMaximumDisketteCount] = {};
    if (WriteSelfDisk(&output, temporaryPath, request, placed) == 0) {
        CloseOutputFile(output.fileHandle, temporaryPath);
        return 0;
    }
    code = CommitFile(output.fileHandle, temporaryPath, request->outputPath,
                      OutputFileKind::kProgram, true);
    if (code != 0) {
        ReportMessage("'%s' could not be created.", kMessageError, code, request->outputPath);
        CloseOutputFile(-1, temporaryPath);
        return 0;
    }
    code = SyncDirectoryEntry(request->outputPath);
    if (code != 0) {
        ReportMessage("'%s' has its name, but its directory could not be written to the disk.",
                      kMessageError, code, request->outputPath);
        return 0;
    }
    for (std::uint32_t number = 0; number < request->imageCount; ++number) {
        const std::uint64_t byteCount =
            static_cast<std::uint64_t>(placed[number].endOffset - placed[number].startOffset);
        ConsolePrint("Diskette %2u: %s (%s, %" PRIu64 " bytes)\r\n",
                     static_cast<unsigned>(number + 1), request->imagePaths[number],
                     StorageText(placed[number].storage), byteCount);
    }
    ConsolePrint("'%s' made: %u diskette(s), %u bytes of description, %" PRIu64 " bytes.\r\n",
                 request->outputPath, static_cast<unsigned>(request->imageCount),
                 static_cast<unsigned>(request->descriptionLength), output.length);
    return 1;
}
