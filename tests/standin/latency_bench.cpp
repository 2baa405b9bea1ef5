// Prints how long a request takes to come back through the stand-in under Wine, midiOutLongMsg
// to MIM_LONGDATA: the floor under every exchange with the simulated unit. A figure, not a test.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "sim/standin/sim_control.h"

namespace {

HANDLE replied;

void CALLBACK OnInput(HMIDIIN handle, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
    auto* header = reinterpret_cast<MIDIHDR*>(param1);
    if (message == MIM_LONGDATA && header->dwBytesRecorded > 0) { // not handed back by a reset
        midiInAddBuffer(handle, header, sizeof(MIDIHDR));
        SetEvent(replied);
    }
}

} // namespace

int main() {
    SimApi api{};
    HMIDIOUT out = nullptr;
    HMIDIIN in = nullptr;
    replied = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (SimLoadApi(&api) != 0 || api.configure("normal") != 0 ||
        midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR ||
        midiInOpen(&in, 1, reinterpret_cast<DWORD_PTR>(OnInput), 0, CALLBACK_FUNCTION) != 0) {
        fprintf(stderr, "winmm.dll beside this program is not the stand-in, or ports are shut\n");
        return 1;
    }
    static char buffers[2][512];
    static MIDIHDR headers[2];
    for (int i = 0; i < 2; ++i) {
        headers[i].lpData = buffers[i];
        headers[i].dwBufferLength = sizeof buffers[i];
        midiInPrepareHeader(in, &headers[i], sizeof(MIDIHDR));
        midiInAddBuffer(in, &headers[i], sizeof(MIDIHDR));
    }
    midiInStart(in);
    uint8_t request[] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
    MIDIHDR send{};
    send.lpData = reinterpret_cast<LPSTR>(request);
    send.dwBufferLength = sizeof request;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < 2000; ++i) {
        QueryPerformanceCounter(&start);
        send.dwFlags = 0;
        midiOutPrepareHeader(out, &send, sizeof send);
        midiOutLongMsg(out, &send, sizeof send);
        midiOutUnprepareHeader(out, &send, sizeof send);
        if (WaitForSingleObject(replied, 1000) != WAIT_OBJECT_0)
            continue;
        QueryPerformanceCounter(&end);
        times.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 /
                        double(frequency.QuadPart));
    }
    midiInReset(in);
    midiInClose(in);
    midiOutClose(out);
    if (times.empty())
        return printf("no replies\n"), 1;
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<size_t>(q * double(times.size() - 1))]; };
    printf("request to reply through the stand-in, %zu of 2000 rounds:\n", times.size());
    printf("  median %.3f ms  p90 %.3f ms  p99 %.3f ms  max %.3f ms\n", at(0.5), at(0.9), at(0.99),
           times.back());
    return 0;
}
