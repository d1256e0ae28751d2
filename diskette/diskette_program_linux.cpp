// diskette_program_linux.cpp - the usage texts' words on Linux's diskette
// devices and the DISKETTE_<letter> variables (device_linux.cpp).
#include "diskette/diskette_program.h"

const char kWriterInformation[] =
    "Writes a VELMORATRAX diskette image, or a plain one, track by track onto\r\n"
    "the diskette in the drive. A: is /dev/fd0, B: /dev/fd1; DISKETTE_A=PATH\r\n"
    "names another device, or a file that stands for the diskette.\r\n";

const char kReaderInformation[] =
    "Reads the diskette in the drive track by track into an image file: a plain\r\n"
    "one, or one in the native format with a CRC-32 (/N). A: is /dev/fd0, B:\r\n"
    "/dev/fd1; DISKETTE_A=PATH names another device, or a file that stands for\r\n"
    "the diskette.\r\n";

const char kSelfDiskInformation[] =
    " carries VELMORATRAX diskette images in its own file and writes\r\n"
    "them one after the other onto diskettes. A: is /dev/fd0, B: /dev/fd1;\r\n"
    "DISKETTE_A=PATH names another device, or a file that stands for the diskette.\r\n";

const char kOwnProgramFile[] = "/proc/self/exe";
