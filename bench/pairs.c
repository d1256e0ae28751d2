/* pairs.c - times two commands in interleaved pairs and prints the ratio of
 * their wall-clock times: A B, then B A, then A B ..., one ratio A / B per
 * pair, the median of each repeat, and the median, least and greatest of the
 * repeats' medians. Whatever else runs on the machine meanwhile falls on both
 * commands of a pair alike, so the ratio holds where single timings swing.
 *
 *   pairs [-p PAIRS] [-r REPEATS] [-w WARMUP] [-o null|pipe] [-d DIR] -- A... -- B...
 *
 * -o null: standard output goes to /dev/null (the default); -o pipe: into a
 * pipe that this program reads to its end, as a reader of the output would.
 * -d DIR: DIR is removed and made again, empty, before every run of either
 * command (not timed). Standard input and error are /dev/null.
 * Prints one line: ratio median, least, greatest, then the median times of
 * A and B in milliseconds over all pairs. Exit code 1 when a command fails. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static const char* freshDirectory;
static int pipeOutput;

static double Now(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

static int RemoveOne(const char* path, const struct stat* status, int type, struct FTW* walk) {
    (void)status;
    (void)type;
    (void)walk;
    return remove(path) != 0 && errno != ENOENT;
}

static void MakeFresh(void) {
    if (freshDirectory == NULL) return;
    if (nftw(freshDirectory, RemoveOne, 16, FTW_DEPTH | FTW_PHYS) != 0 && errno != ENOENT) {
        perror(freshDirectory);
        exit(1);
    }
    if (mkdir(freshDirectory, 0777) != 0) {
        perror(freshDirectory);
        exit(1);
    }
}

/* Runs the command once and gives its wall-clock time in seconds. */
static double RunOnce(char** command) {
    MakeFresh();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int ends[2] = {-1, -1};
    if (pipeOutput) {
        if (pipe2(ends, O_CLOEXEC) != 0) {
            perror("pipe");
            exit(1);
        }
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    const double start = Now();
    pid_t child;
    int code = posix_spawn(&child, command[0], &actions, NULL, command, environ);
    if (code != 0) {
        fprintf(stderr, "pairs: %s: %s\n", command[0], strerror(code));
        exit(1);
    }
    if (pipeOutput) {
        close(ends[1]);
        static char buffer[65536];
        while (read(ends[0], buffer, sizeof(buffer)) > 0) {
        }
        close(ends[0]);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const double seconds = Now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "pairs: %s failed (status %d)\n", command[0], status);
        exit(1);
    }
    return seconds;
}

static int CompareDoubles(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double Median(double* values, int count) {
    qsort(values, (size_t)count, sizeof(double), CompareDoubles);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static void Usage(void) {
    fprintf(stderr,
            "usage: pairs [-p PAIRS] [-r REPEATS] [-w WARMUP] [-o null|pipe] [-d DIR] "
            "-- A... -- B...\n");
    exit(2);
}

int main(int argc, char** argv) {
    int pairCount = 21, repeatCount = 3, warmupCount = 2;
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; i += 2) {
        if (i + 1 >= argc) Usage();
        const char* value = argv[i + 1];
        if (strcmp(argv[i], "-p") == 0) {
            pairCount = atoi(value);
        } else if (strcmp(argv[i], "-r") == 0) {
            repeatCount = atoi(value);
        } else if (strcmp(argv[i], "-w") == 0) {
            warmupCount = atoi(value);
        } else if (strcmp(argv[i], "-o") == 0) {
            pipeOutput = strcmp(value, "pipe") == 0;
        } else if (strcmp(argv[i], "-d") == 0) {
            freshDirectory = value;
        } else {
            Usage();
        }
    }
    if (i >= argc || pairCount < 1 || repeatCount < 1 || warmupCount < 0) Usage();
    char** commandA = argv + i + 1;
    int j = i + 1;
    while (j < argc && strcmp(argv[j], "--") != 0) ++j;
    if (j >= argc || j == i + 1 || j + 1 >= argc) Usage();
    argv[j] = NULL;
    char** commandB = argv + j + 1;

    for (int w = 0; w < warmupCount; ++w) {
        RunOnce(commandA);
        RunOnce(commandB);
    }
    const int total = pairCount * repeatCount;
    double* ratios = malloc(sizeof(double) * (size_t)pairCount);
    double* medians = malloc(sizeof(double) * (size_t)repeatCount);
    double* timesA = malloc(sizeof(double) * (size_t)total);
    double* timesB = malloc(sizeof(double) * (size_t)total);
    if (ratios == NULL || medians == NULL || timesA == NULL || timesB == NULL) return 1;
    for (int repeat = 0; repeat < repeatCount; ++repeat) {
        for (int pair = 0; pair < pairCount; ++pair) {
            double a, b;
            if (pair % 2 == 0) {
                a = RunOnce(commandA);
                b = RunOnce(commandB);
            } else {
                b = RunOnce(commandB);
                a = RunOnce(commandA);
            }
            ratios[pair] = a / b;
            timesA[repeat * pairCount + pair] = a;
            timesB[repeat * pairCount + pair] = b;
        }
        medians[repeat] = Median(ratios, pairCount);
    }
    double least = medians[0], greatest = medians[0];
    for (int repeat = 1; repeat < repeatCount; ++repeat) {
        if (medians[repeat] < least) least = medians[repeat];
        if (medians[repeat] > greatest) greatest = medians[repeat];
    }
    printf("%.3f %.3f %.3f %.3f %.3f\n", Median(medians, repeatCount), least, greatest,
           Median(timesA, total) * 1000, Median(timesB, total) * 1000);
    return 0;
}
