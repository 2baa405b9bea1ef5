// Prints how long a request takes to come back as a parsed-ready buffer through the stand-in
// under Wine: midiOutLongMsg to the MIM_LONGDATA notification, the floor under every exchange
// the program makes with the simulated unit. A figure, not a test: nothing here fails on time.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "sim/standin/sim_control.h"

namespace {

HANDLE replied;

void CALLBACK OnInput(HMIDIIN handle, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
    if (message != MIM_LONGDATA)
        return;
    auto* header = reinterpret_cast<MIDIHDR*>(param1);
    if (header->dwBytesRecorded == 0)
        return; // handed back by reset: not to be queued again
    midiInAddBuffer(handle, header, sizeof(MIDIHDR));
    SetEvent(replied);
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

} // namespace

int main() {
    SimApi api{};
    if (SimLoadApi(&api) != 0 || api.configure("normal") != 0) {
        fprintf(stderr, "winmm.dll beside this program is not the stand-in\n");
        return 1;
    }
    replied = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HMIDIOUT out = nullptr;
    HMIDIIN in = nullptr;
    static char buffers[2][512];
    MIDIHDR headers[2] = {};
    if (midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR ||
        midiInOpen(&in, 1, reinterpret_cast<DWORD_PTR>(OnInput), 0, CALLBACK_FUNCTION) !=
            MMSYSERR_NOERROR) {
        fprintf(stderr, "cannot open the unit's ports\n");
        return 1;
    }
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
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int rounds = 2000;
    std::vector<double> times;
    int lost = 0;
    for (int i = 0; i < rounds; ++i) {
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        QueryPerformanceCounter(&start);
        send.dwFlags = 0;
        midiOutPrepareHeader(out, &send, sizeof send);
        midiOutLongMsg(out, &send, sizeof send);
        midiOutUnprepareHeader(out, &send, sizeof send);
        if (WaitForSingleObject(replied, 1000) != WAIT_OBJECT_0) {
            ++lost;
            continue;
        }
        QueryPerformanceCounter(&end);
        times.push_back(Milliseconds(start, end, frequency));
    }
    midiInStop(in);
    midiInReset(in);
    for (auto& header : headers)
        midiInUnprepareHeader(in, &header, sizeof(MIDIHDR));
    midiInClose(in);
    midiOutReset(out);
    midiOutClose(out);
    if (times.empty()) {
        printf("no replies\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<size_t>(q * (times.size() - 1))]; };
    printf("request to reply through the stand-in, %zu rounds (%d lost):\n", times.size(), lost);
    printf("  median %.3f ms  p90 %.3f ms  p99 %.3f ms  max %.3f ms\n", at(0.5), at(0.9), at(0.99),
           times.back());
    return 0;
}
