// diskette_program_win.cpp - the usage texts' words on Windows, where a drive
// letter names the drive itself.
#include "diskette/diskette_program.h"

const char kWriterInformation[] =
    "Writes a VELMORATRAX diskette image, or a plain one, track by track onto\r\n"
    "the diskette in the drive.\r\n";

const char kReaderInformation[] =
    "Reads the diskette in the drive track by track into an image file: a plain\r\n"
    "one, or one in the native format with a CRC-32 (/N).\r\n";

const char kSelfDiskInformation[] =
    " carries VELMORATRAX diskette images in its own file and writes\r\n"
    "them one after the other onto diskettes.\r\n";

const char kOwnProgramFile[] = "";
