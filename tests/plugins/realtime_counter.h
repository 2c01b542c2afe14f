// Counts calls of the C library's allocation functions, pthread_mutex_lock
// and write made between startCounting() and stopCounting(), on any thread:
// the program that links realtime_counter.cpp interposes them.
#pragma once

// Looks up the real functions; false if they cannot be found.
bool realtimeCounterReady();
void startCounting();
// The calls counted since startCounting().
int stopCounting();
