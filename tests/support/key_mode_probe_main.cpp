// key_mode_probe_main.cpp - puts the terminal into key mode, says so, then
// ends as its argument asks: "exit" returns normally, "signal" raises SIGINT,
// "wait" blocks for one key and prints its value, "poll" prints one poll.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/keys.h"

int main(int argumentCount, char** arguments) {
    const char* mode = argumentCount > 1 ? arguments[1] : "exit";
    EnterKeyMode();
    ConsoleWrite("ready\n");
    if (std::strcmp(mode, "signal") == 0) {
        raise(SIGINT);
        return 0;
    }
    if (std::strcmp(mode, "wait") == 0) {
        ConsolePrint("key %d\n", WaitForKey());
        return 0;
    }
    if (std::strcmp(mode, "keys") == 0) {
        for (;;) {
            int key = WaitForKey();
            ConsolePrint("key %d\n", key);
            if (key == 'q' || key == kKeyEsc) return 0;
        }
    }
    if (std::strcmp(mode, "poll") == 0) {
        ConsolePrint("poll %d\n", PollKey());
        return 0;
    }
    return 0;
}
