// wrap_native_main.cpp - wraps a raw FAT12 diskette image (as mkfs.fat and
// mtools leave it) in the native image format, sparse and with its CRC-32,
// for the benchmark.
//   wrap_native RAW_IMAGE NATIVE_IMAGE
#include <cstdio>
#include <vector>

#include "tests/support/image_builder.h"

int main(int argumentCount, char** arguments) {
    if (argumentCount != 3) {
        std::fprintf(stderr, "usage: wrap_native RAW_IMAGE NATIVE_IMAGE\n");
        return 2;
    }
    std::FILE* input = std::fopen(arguments[1], "rb");
    if (input == nullptr) {
        std::perror(arguments[1]);
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof(chunk), input)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    std::fclose(input);

    const FatImage image = ParseFatImage(bytes);
    const std::vector<std::uint8_t> native = WrapNative(image, NativeWith(true, true));
    std::FILE* output = std::fopen(arguments[2], "wb");
    if (output == nullptr) {
        std::perror(arguments[2]);
        return 1;
    }
    const bool written = std::fwrite(native.data(), 1, native.size(), output) == native.size();
    if (std::fclose(output) != 0 || !written) {
        std::perror(arguments[2]);
        return 1;
    }
    return 0;
}
