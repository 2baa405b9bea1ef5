// One bounded pause that ends as soon as a condition holds, for the send's completion wait and
// the update worker's reply waits.
#pragma once
#include <windows.h>

// Waits until done(arg) is true or ms have passed; true when done. With a wake event (one the
// receive path sets after storing a reply) the pause sleeps on it for the time that is left and
// tests done each time it wakes, so the worker uses no processor while the unit works and reacts
// the moment a reply is stored. Without one (the send's completion flag, which nothing signals)
// it yields the processor for its first 2 ms, since a driver usually finishes well within that,
// and then sleeps in 1 ms slices. A wake-up that finds done still false waits out the rest, and
// an event that cannot be waited on falls back to the slices: the pause always lasts its time.
bool PauseUntil(unsigned ms, bool (*done)(const void* arg), const void* arg, HANDLE wake);
