// key_queue.h - the key input of the diskette tests: PollKey and WaitForKey
// take keys from a queue that the test fills, from any thread.
#pragma once

// Appends a key value to the queue.
void PushKey(int key);

// Empties the queue and sets the count of polls to 0.
void ClearKeys();

// How many times PollKey has been called since ClearKeys.
int PollCount();
