// payload_helper.h - self-creating diskette files laid out by hand for the
// tests: the payload offset field at file offset 12 (inside the ELF
// identification's padding), then at that offset the count, the
// description's length, the description and the images back to back.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

inline constexpr std::size_t kOffsetFieldAt = 12;

// The payload: count, length byte, description bytes, images.
inline std::vector<std::uint8_t> PayloadBytes(std::uint8_t count, const std::string& description,
                                              const std::vector<std::vector<std::uint8_t>>& images) {
    std::string payload;
    payload += static_cast<char>(count);
    payload += static_cast<char>(description.size());
    payload += description;
    for (const std::vector<std::uint8_t>& image : images) payload.append(image.begin(), image.end());
    return std::vector<std::uint8_t>(payload.begin(), payload.end());
}

// program with payload appended and the offset field set to program's length.
inline std::vector<std::uint8_t> WithPayload(std::vector<std::uint8_t> program,
                                             const std::vector<std::uint8_t>& payload) {
    PutLe32(program, kOffsetFieldAt, static_cast<std::uint32_t>(program.size()));
    program.insert(program.end(), payload.begin(), payload.end());
    return program;
}

// A stand-in for the program's code: 64 bytes, the field among them.
inline std::vector<std::uint8_t> StandInProgram() { return std::vector<std::uint8_t>(64, 0x7F); }

// A 1.44 MB diskette labelled label with one small file (cluster 2, sector
// 33: track side 1), every other data sector 0xE5: a sparse native image of
// it stores track sides 0 and 1, 47 + 2 x 9216 = 18479 bytes.
inline FatImage LabelledDiskette(const std::string& label) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), label, 0xE5);
    AddFile(&image, kRootDirectory, FileEntry("README", "TXT"), TextBytes(label + "\r\n"));
    return image;
}
