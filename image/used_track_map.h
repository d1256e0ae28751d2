// used_track_map.h - which track sides of a diskette hold anything worth
// keeping, computed from its FAT12 file allocation table. A sparse native
// image stores exactly the track sides this map marks, and the writers skip
// the others unless told to write all tracks.
#pragma once
#include <cstdint>

#include "image/device_parameter_block.h"
#include "image/image_record.h"

inline constexpr std::uint8_t kTrackSideUsed = 0xFF;
inline constexpr std::uint8_t kTrackSideUnused = 0x00;

// Marks the system area: map entries 0 to (reserved + system sectors) /
// sectors per track inclusive become used, all others unused. map holds
// geometry->trackSideCount bytes.
void InitUsedTrackMap(std::uint8_t* map, const DisketteGeometry* geometry);

// Marks the track side of the first sector of every allocated cluster: each
// entry of the first FAT (at reserved sectors x bytes per sector) that is
// neither 0 nor 0xFF7, for the clusters 2 to N + 1 and, when the cluster count
// N is odd, the entry after them (entries are read in three-byte pairs).
// Chains are not followed; entries are never cleared. map holds
// geometry->trackSideCount bytes, imageBuffer geometry->imageSize bytes;
// FAT bytes and sectors outside them are left alone.
void ScanFatIntoMap(std::uint8_t* map, const DisketteGeometry* geometry,
                    const std::uint8_t* imageBuffer);

// Marks, for the same allocated clusters, every track side that holds any
// sector of the cluster. A cluster of two sectors can begin in the last
// sector of one track side and end in the first of the next; the scan above
// leaves that next track side unmarked when nothing else lies there, and a
// writer that skips unmarked track sides would leave half the cluster
// unwritten. A volume of more than 4084 clusters is no FAT12 volume: its
// every track side is marked, so that no writer skips data it cannot see.
// The writers call this on the complete image before writing.
void MarkWholeClustersInMap(std::uint8_t* map, const DisketteGeometry* geometry,
                            const std::uint8_t* imageBuffer);

// MarkWholeClustersInMap on an image the reader has read successfully. Does
// nothing when the record holds no image.
void CompleteUsedTrackMap(ImageRecord* image);
