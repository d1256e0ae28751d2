/* floor_extract.c - the least work any extractor must do: read a raw FAT12
 * diskette image with one read (into memory that costs the fewest page
 * faults, floor_buffer.h), create each directory with one mkdir, and write
 * each file with open, one write of its clusters, futimens and close. Linked
 * statically, so its start costs no more than it must.
 * The file times are the ones imgextract gives: the stored DOS time taken as
 * UTC, one hour earlier. No checks beyond what keeps it inside the buffer: it
 * is a yardstick, not an extractor. With LINES, it also writes one line to
 * standard output after each file ("PATH created."), one write each, and at
 * the end as many more as make LINES: the least an extraction costs whose
 * lines reach their reader one by one.
 *   floor_extract RAW_IMAGE DEST [LINES] */
#define _GNU_SOURCE
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include "floor_buffer.h"

static unsigned char* image;
static size_t imageSize;
static size_t fatStart, dataStart, clusterSize;
static unsigned lastCluster;
static int writeLines;
static long linesWritten;

static void WriteLine(const char* path) {
    char line[PATH_MAX + 16];
    size_t length = strlen(path);
    memcpy(line, path, length);
    memcpy(line + length, " created.\n", 10);
    if (write(1, line, length + 10) < 0) exit(1);
    ++linesWritten;
}

static unsigned Le16(const unsigned char* p) { return p[0] | (unsigned)p[1] << 8; }
static uint32_t Le32(const unsigned char* p) { return Le16(p) | (uint32_t)Le16(p + 2) << 16; }

static unsigned NextCluster(unsigned cluster) {
    unsigned word = Le16(image + fatStart + cluster * 3 / 2);
    return (cluster & 1) ? word >> 4 : word & 0xFFF;
}

static int IsData(unsigned cluster) { return cluster >= 2 && cluster <= lastCluster; }

static unsigned char* ClusterAt(unsigned cluster) {
    return image + dataStart + (size_t)(cluster - 2) * clusterSize;
}

static int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = (unsigned)(y - era * 400);
    unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

static void WriteFile(const char* path, const unsigned char* entry) {
    struct iovec runs[IOV_MAX];
    int runCount = 0;
    uint32_t remaining = Le32(entry + 28);
    unsigned cluster = Le16(entry + 26);
    unsigned steps = 0;
    while (remaining > 0 && IsData(cluster) && steps++ <= lastCluster) {
        size_t count = remaining < clusterSize ? remaining : clusterSize;
        unsigned char* address = ClusterAt(cluster);
        if (runCount > 0 && (unsigned char*)runs[runCount - 1].iov_base +
                                    runs[runCount - 1].iov_len == address) {
            runs[runCount - 1].iov_len += count;
        } else if (runCount < IOV_MAX) {
            runs[runCount].iov_base = address;
            runs[runCount].iov_len = count;
            ++runCount;
        }
        remaining -= (uint32_t)count;
        cluster = NextCluster(cluster);
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        perror(path);
        exit(1);
    }
    if (runCount > 0 && writev(fd, runs, runCount) < 0) exit(1);
    unsigned date = Le16(entry + 24), time = Le16(entry + 22);
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
    times[1].tv_sec = (time_t)(DaysFromCivil(1980 + (date >> 9), (date >> 5) & 15, date & 31) *
                                   86400 +
                               (time >> 11) * 3600 + ((time >> 5) & 63) * 60 +
                               (time & 31) * 2 - 3600);
    futimens(fd, times);
    if ((entry[11] & 1) != 0) fchmod(fd, 0444);
    close(fd);
    if (writeLines) WriteLine(path);
}

static void WalkEntries(const unsigned char* entries, size_t count, char* path, size_t length,
                        int depth);

static void WalkDirectory(unsigned cluster, char* path, size_t length, int depth) {
    unsigned steps = 0;
    while (IsData(cluster) && steps++ <= lastCluster) {
        WalkEntries(ClusterAt(cluster), clusterSize / 32, path, length, depth);
        cluster = NextCluster(cluster);
    }
}

static void WalkEntries(const unsigned char* entries, size_t count, char* path, size_t length,
                        int depth) {
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* entry = entries + i * 32;
        if (entry[0] == 0) return;
        if (entry[0] == 0xE5 || entry[0] == '.' || (entry[11] & 0x08) != 0) continue;
        size_t end = length;
        path[end++] = '/';
        for (int k = 0; k < 8 && entry[k] != ' '; ++k) path[end++] = (char)entry[k];
        if (entry[8] != ' ') {
            path[end++] = '.';
            for (int k = 8; k < 11 && entry[k] != ' '; ++k) path[end++] = (char)entry[k];
        }
        path[end] = '\0';
        if ((entry[11] & 0x10) != 0) {
            if (depth < 32) {
                mkdir(path, 0777);
                WalkDirectory(Le16(entry + 26), path, end, depth + 1);
            }
        } else {
            WriteFile(path, entry);
        }
        path[length] = '\0';
    }
}

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: floor_extract RAW_IMAGE DEST [LINES]\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < 512) return 1;
    imageSize = (size_t)st.st_size;
    image = FloorBuffer(imageSize + 1);
    if (image == NULL || read(fd, image, imageSize + 1) != (ssize_t)imageSize) return 1;
    close(fd);
    size_t bytesPerSector = Le16(image + 11);
    size_t reserved = Le16(image + 14);
    size_t fats = image[16];
    size_t rootEntries = Le16(image + 17);
    size_t sectorsPerFat = Le16(image + 22);
    clusterSize = image[13] * bytesPerSector;
    fatStart = reserved * bytesPerSector;
    size_t rootStart = (reserved + fats * sectorsPerFat) * bytesPerSector;
    dataStart = rootStart + rootEntries * 32 / bytesPerSector * bytesPerSector;
    if (clusterSize == 0 || dataStart > imageSize) return 1;
    lastCluster = (unsigned)((imageSize - dataStart) / clusterSize + 1);
    if (lastCluster > 0xFF6) lastCluster = 0xFF6;
    char path[PATH_MAX];
    size_t length = strlen(argv[2]);
    if (length + 13 * 40 >= sizeof(path)) return 1;
    memcpy(path, argv[2], length + 1);
    writeLines = argc == 4;
    WalkEntries(image + rootStart, rootEntries, path, length, 0);
    for (long more = writeLines ? atol(argv[3]) - linesWritten : 0; more > 0; --more) {
        WriteLine(argv[2]);
    }
    return 0;
}
