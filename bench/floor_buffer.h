/* floor_buffer.h - the least costly memory for a whole image, for the floor
 * programs: anonymous memory in 2 MiB pages where the system grants them
 * (one page fault each instead of one per 4 KiB), faulted in by one call, as
 * imgextract's image buffer (image/image_file_posix.cpp) takes it. */
#ifndef FLOOR_BUFFER_H
#define FLOOR_BUFFER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/mman.h>

/* A zero-filled buffer of at least size bytes, or NULL. Never freed: the
 * floors end right after using it. The plain floors (FLOOR_PLAIN, the
 * floors as they were before imgextract took its buffer this way) take it
 * from malloc, a page fault per 4 KiB. */
#ifdef FLOOR_PLAIN
#include <stdlib.h>
static unsigned char* FloorBuffer(size_t size) { return malloc(size); }
#else
static unsigned char* FloorBuffer(size_t size) {
    const size_t large = (size_t)2 << 20;
    const size_t whole = size / large * large;
    const size_t largePart = size - whole >= large / 2 ? whole + large : whole;
    const size_t mapped = size <= largePart ? largePart : largePart + ((size - largePart + 4095) & ~(size_t)4095);
    unsigned char* start = mmap(NULL, mapped + large, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) return NULL;
    unsigned char* aligned = (unsigned char*)(((uintptr_t)start + large - 1) & ~(uintptr_t)(large - 1));
    if (largePart > 0) madvise(aligned, largePart, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    madvise(aligned, mapped, MADV_POPULATE_WRITE);
#endif
    return aligned;
}
#endif

#endif
