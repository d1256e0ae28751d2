// key_mode_probe_main.cpp - starts like a diskette program, puts the terminal
// into key mode, says so, then goes on as its argument asks: "exit" returns
// normally, "signal" raises SIGINT, "wait" blocks for one key and prints its
// value (and ends with exit code 3 when no key can come), "poll" prints one
// poll, "keys" prints the value of each key until q, ESC or the end of input.
// "colour" and "colour-reset" write a line in white on magenta, the latter
// with the reset to normal after it, and then go on like "keys";
// "colour-open" likewise, its line ending in a lone CR like a prompt's.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/keys.h"
#include "console/program.h"

static int PrintKeysUntilQuit() {
    for (;;) {
        int key = WaitForKey();
        ConsolePrint("key %d\n", key);
        if (key == 'q' || key == kKeyEsc || key == kKeyEndOfInput) return 0;
    }
}

int main(int argumentCount, char** arguments) {
    const char* mode = argumentCount > 1 ? arguments[1] : "exit";
    StartConsoleProgram(OutputVariant::kConsole);
    EnterKeyMode();
    ConsoleWrite("ready\n");
    if (std::strcmp(mode, "signal") == 0) {
        raise(SIGINT);
        return 0;
    }
    if (std::strcmp(mode, "wait") == 0) {
        const int key = WaitForKey();
        ConsolePrint("key %d\n", key);
        return key == kKeyEndOfInput ? 3 : 0;
    }
    if (std::strcmp(mode, "keys") == 0) return PrintKeysUntilQuit();
    if (std::strcmp(mode, "colour") == 0) {
        ConsoleWrite("\x1b\x5F" "magenta\n");
        return PrintKeysUntilQuit();
    }
    if (std::strcmp(mode, "colour-open") == 0) {
        ConsoleWrite("\x1b\x5F" "magenta\r");
        return PrintKeysUntilQuit();
    }
    if (std::strcmp(mode, "colour-reset") == 0) {
        ConsoleWrite("\x1b\x5F" "magenta" "\x1b\x07" "\n");
        return PrintKeysUntilQuit();
    }
    if (std::strcmp(mode, "poll") == 0) {
        ConsolePrint("poll %d\n", PollKey());
        return 0;
    }
    return 0;
}
