/* floor_read.c - the least work of any tool that looks at a diskette image:
 * open it, read the whole file into memory with one read, and end.
 *   floor_read IMAGE */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: floor_read IMAGE\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return 1;
    unsigned char* buffer = malloc((size_t)st.st_size + 1);
    if (buffer == NULL) return 1;
    ssize_t count = read(fd, buffer, (size_t)st.st_size + 1);
    if (count != st.st_size) return 1;
    close(fd);
    free(buffer);
    return 0;
}
