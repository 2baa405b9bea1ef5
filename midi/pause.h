// One bounded pause that ends as soon as a condition holds, for the send's completion wait and
// the update worker's reply waits.
#pragma once
#include <windows.h>

// Waits until done(arg) is true or ms have passed; true when done. The first 2 ms only yield
// the processor, so an answer that comes within a millisecond costs no scheduler wake-up. After
// that the pause sleeps: on wake when it is an event the driver side sets, else in 1 ms slices.
// A wake-up that finds done still false waits out the rest, and a wake event that cannot be
// waited on (it could not be created) falls back to the slices: the pause always lasts its time.
bool PauseUntil(unsigned ms, bool (*done)(const void* arg), const void* arg, HANDLE wake);
