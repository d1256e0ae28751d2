// key_queue.cpp - console/keys.h's platform part for the diskette tests,
// linked in place of the terminal's key input.
#include "tests/diskette/key_queue.h"

#include <deque>
#include <mutex>

#include "console/keys.h"

namespace {
std::mutex queueMutex;
std::deque<int> queuedKeys;
int pollCount = 0;
}  // namespace

void PushKey(int key) {
    std::lock_guard<std::mutex> guard(queueMutex);
    queuedKeys.push_back(key);
}

void ClearKeys() {
    std::lock_guard<std::mutex> guard(queueMutex);
    queuedKeys.clear();
    pollCount = 0;
}

int PollCount() {
    std::lock_guard<std::mutex> guard(queueMutex);
    return pollCount;
}

void EnterKeyMode() {}

int PollKey() {
    std::lock_guard<std::mutex> guard(queueMutex);
    ++pollCount;
    if (queuedKeys.empty()) return kKeyNone;
    int key = queuedKeys.front();
    queuedKeys.pop_front();
    return key;
}

// An empty queue answers like the end of input: ESC, so no test can hang.
int WaitForKey() {
    std::lock_guard<std::mutex> guard(queueMutex);
    if (queuedKeys.empty()) return kKeyEsc;
    int key = queuedKeys.front();
    queuedKeys.pop_front();
    return key;
}

bool ReadInputLine(char* buffer, std::size_t bufferSize) {
    if (bufferSize > 0) buffer[0] = '\0';
    return false;
}
