// The stand-in's driver thread: the unit's replies at their due time, asynchronous sends' ends,
// timed unplugs, and the client's notifications, always called without the lock.
#include "sim/standin/standin.h"

#include <algorithm>

namespace {

const uint64_t kIdlePollMs = 50; // every call notices a due unplug by itself anyway
const DWORD kCallbackWaitMs = 2000;
const uint64_t kFlushAfterMs = 4; // how long a transcript line may wait for the file
// A timed wait ends up to about a millisecond late: the thread sleeps until this long before
// the next due moment, then yields the processor until it has come.
const uint64_t kSleepMarginMs = 1;

// Delivers queued notifications up to a serial, in order. Re-entered on the driver thread when
// a client calls a function that delivers in place (midiInReset from inside its callback).
void DeliverQueuedCallbacks(uint64_t upTo) {
    for (;;) {
        QueuedCallback item;
        ClientCallback callback{};
        bool live = false;
        {
            Locked hold;
            if (g.callbacks.empty() || g.callbacks.front().serial > upTo)
                return;
            item = g.callbacks.front();
            g.callbacks.pop_front();
            // A handle closed meanwhile gets nothing more.
            if (SimHandle* h = FindHandleById(item.handle)) {
                callback = h->callback;
                live = true;
            }
        }
        if (live)
            NotifyNow(callback, item.handle, item.message, item.param1, item.param2);
        Locked hold;
        if (item.serial > g.deliveredSerial)
            g.deliveredSerial = item.serial;
        WakeAllConditionVariable(&g.delivered);
    }
}

void CompleteDueSends(int64_t now) {
    for (size_t i = 0; i < g.completions.size();) {
        const DueCompletion c = g.completions[i];
        if (c.dueTicks > now) {
            ++i;
            continue;
        }
        g.completions.erase(g.completions.begin() + static_cast<std::ptrdiff_t>(i));
        SimHandle* h = FindHandleById(c.handle);
        if (h && std::count(h->pending.begin(), h->pending.end(), c.header)) {
            h->pending.erase(std::find(h->pending.begin(), h->pending.end(), c.header));
            c.header->dwFlags = (c.header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            Log("done out");
            QueueCallback(*h, MOM_DONE, reinterpret_cast<DWORD_PTR>(c.header), 0);
        }
    }
}

SimHandle* ListeningInput(int unit) {
    for (auto& h : g.handles)
        if (h->input && h->unit == unit && !UnitGoneFor(*h) && h->started)
            return h.get();
    return nullptr;
}

// One message per pass, its notification run before the next is taken, as on a cable.
void SendDueReply(int64_t now) {
    if (!g.replies.empty() && g.replies.front().dueTicks <= now) {
        SimUnit& unit = g.units[g.replies.front().unit];
        UnitOutput reply = std::move(g.replies.front().output);
        g.replies.erase(g.replies.begin());
        Log("%stx %s", unit.tag, HexBytes(reply.bytes.data(), reply.bytes.size()).c_str());
        if (SimHandle* h = ListeningInput(static_cast<int>(&unit - g.units)))
            DeliverToInput(*h, reply);
        else
            Log("dropped %u no-input", static_cast<unsigned>(reply.bytes.size()));
        const int index = static_cast<int>(&unit - g.units);
        if (unit.leaveAfterReply &&
            std::none_of(g.replies.begin(), g.replies.end(),
                         [&](const DueReply& r) { return r.unit == index; }))
            UnplugUnit(unit);
    }
}

// The next moment something is due (a reply, a completion, an unplug), at most kIdlePollMs on.
int64_t NextDue(int64_t now) {
    int64_t next = now + MsToTicks(kIdlePollMs);
    if (!g.replies.empty() && g.replies.front().dueTicks < next)
        next = g.replies.front().dueTicks;
    for (const auto& c : g.completions)
        if (c.dueTicks < next)
            next = c.dueTicks;
    for (int i = 0; i < g.unitCount; ++i) {
        const SimUnit& unit = g.units[i];
        const uint64_t dueMs = unit.gone ? unit.replugAtMs : unit.model.unplugAtMs;
        if (MsToTicks(dueMs) < next)
            next = MsToTicks(dueMs);
    }
    return next;
}

// The transcript is written when its oldest line has waited long enough, unless something
// is due so soon that the write would make it late; then right after that.
bool FlushDue(int64_t now, int64_t next) {
    if (g.unwritten.empty())
        return false;
    const int64_t age = now - g.unwrittenSince;
    return age >= MsToTicks(2 * kFlushAfterMs) ||
           (age >= MsToTicks(kFlushAfterMs) && next - now >= MsToTicks(kSleepMarginMs));
}

DWORD WINAPI DriverThread(LPVOID) {
    for (;;) {
        uint64_t upTo = 0;
        bool flush = false;
        {
            Locked hold;
            g.driverSleeping = false;
            const int64_t now = NowTicks();
            NoticeTimedUnplug();
            CompleteDueSends(now);
            SendDueReply(now);
            upTo = g.nextCallbackSerial - 1;
            flush = FlushDue(now, NextDue(now));
        }
        DeliverQueuedCallbacks(upTo);
        if (flush)
            FlushTranscript();
        DWORD sleepMs = 0;
        int64_t yieldUntil = -1;
        unsigned newsSeen = 0;
        {
            Locked hold;
            if (g.nextCallbackSerial - 1 > upTo)
                continue; // a notification queued more
            const int64_t now = NowTicks();
            int64_t next = NextDue(now);
            if (!g.unwritten.empty() && g.unwrittenSince + MsToTicks(kFlushAfterMs) < next)
                next = g.unwrittenSince + MsToTicks(kFlushAfterMs);
            if (next <= now)
                continue;
            const uint64_t remainingMs = TicksToMs(next - now);
            if (remainingMs > kSleepMarginMs) {
                sleepMs = static_cast<DWORD>(remainingMs - kSleepMarginMs);
                g.driverSleeping = true;
            } else {
                yieldUntil = next;
                newsSeen = g.news.load();
            }
        }
        if (yieldUntil >= 0) {
            while (NowTicks() < yieldUntil && g.news.load() == newsSeen)
                SwitchToThread();
            continue;
        }
        WaitForSingleObject(g.wake, sleepMs);
    }
}

} // namespace

SimHandle* AwaitBuffer(uint32_t id, unsigned ms) {
    const int64_t until = NowTicks() + MsToTicks(ms);
    for (;;) {
        const uint64_t upTo = g.nextCallbackSerial - 1;
        LeaveCriticalSection(&g.lock);
        DeliverQueuedCallbacks(upTo);
        SwitchToThread();
        EnterCriticalSection(&g.lock);
        SimHandle* h = FindHandleById(id);
        if (!h || !h->queue.empty() || NowTicks() >= until)
            return h;
    }
}

void StartDriverThread() {
    if (g.driverThreadId)
        return;
    // The thread runs our code for the life of the process: the DLL must never unload.
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&StartDriverThread), &self);
    HANDLE thread = CreateThread(nullptr, 0, DriverThread, nullptr, 0, &g.driverThreadId);
    if (thread)
        CloseHandle(thread);
}

uint64_t QueueCallback(const SimHandle& h, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    uint64_t serial = g.nextCallbackSerial++;
    g.callbacks.push_back(QueuedCallback{serial, h.id, message, param1, param2});
    WakeDriver();
    return serial;
}

void AwaitCallbacks(uint64_t serial, const char* function) {
    if (GetCurrentThreadId() == g.driverThreadId) {
        DeliverQueuedCallbacks(serial);
        return;
    }
    Locked hold;
    WakeDriver();
    DWORD started = GetTickCount();
    while (g.deliveredSerial < serial) {
        DWORD spent = GetTickCount() - started;
        if (spent >= kCallbackWaitMs) {
            Log("late %s", function);
            return;
        }
        SleepConditionVariableCS(&g.delivered, &g.lock, kCallbackWaitMs - spent);
    }
}

void NotifyNow(const ClientCallback& callback, uint32_t handle, UINT message, DWORD_PTR param1,
               DWORD_PTR param2) {
    if (callback.kind == CALLBACK_FUNCTION && callback.target)
        reinterpret_cast<LPMIDICALLBACK>(callback.target)(
            reinterpret_cast<HDRVR>(static_cast<uintptr_t>(handle)), message, callback.instance,
            param1, param2);
}
