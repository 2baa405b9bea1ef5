// Prints how long a request takes to come back through the stand-in under Wine, midiOutLongMsg
// to MIM_LONGDATA: the floor under every exchange with the simulated unit. A figure, not a test;
// its own program, run by hand.
#include "tests/standin/standin_fixture.h"

#include <algorithm>

TEST_F(StandIn, RequestToReplyTime) {
    OpenUnitPair();
    recorder.rearm = true;
    auto notifications = [&] {
        std::lock_guard<std::mutex> hold(recorder.mutex);
        return recorder.seen.size();
    };
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < 2000; ++i) {
        const size_t before = notifications();
        QueryPerformanceCounter(&start);
        SendLong(kStatusRequest);
        midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR));
        do // spun, not slept, so the figure is not rounded to the scheduler's tick
            QueryPerformanceCounter(&now);
        while (notifications() == before && now.QuadPart - start.QuadPart < frequency.QuadPart);
        times.push_back(double(now.QuadPart - start.QuadPart) * 1000.0 /
                        double(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<size_t>(q * double(times.size() - 1))]; };
    printf("request to reply through the stand-in, %zu rounds: median %.3f ms  p90 %.3f ms  "
           "p99 %.3f ms  max %.3f ms\n",
           times.size(), at(0.5), at(0.9), at(0.99), times.back());
}
