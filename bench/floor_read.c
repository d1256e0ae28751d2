/* floor_read.c - the least work of any tool that looks at a diskette image:
 * open it, read the whole file with one read into memory that costs the
 * fewest page faults (floor_buffer.h), and end. It is linked statically, so
 * its start costs no more than it must. With
 * LINES, it then writes that many listing-like lines to standard output, one
 * write each: the least a listing of LINES lines costs where each line
 * reaches its reader at once.
 *   floor_read IMAGE [LINES] */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "floor_buffer.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: floor_read IMAGE [LINES]\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return 1;
    unsigned char* buffer = FloorBuffer((size_t)st.st_size + 1);
    if (buffer == NULL) return 1;
    ssize_t count = read(fd, buffer, (size_t)st.st_size + 1);
    if (count != st.st_size) return 1;
    close(fd);
    static const char line[] =
        "   12,345  12/31/1998  23:59  A---  DOCS\\MANUAL\\F00001.TXT    \n";
    long lineCount = argc == 3 ? atol(argv[2]) : 0;
    for (long i = 0; i < lineCount; ++i) {
        if (write(1, line, sizeof(line) - 1) < 0) return 1;
    }
    return 0;
}
