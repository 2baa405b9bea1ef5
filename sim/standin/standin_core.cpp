// The stand-in's process-wide record: start-up, clock, transcript, handles and the unit.
#include "sim/standin/standin.h"
#include "sim/standin/sim_control.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

StandIn g;

namespace {

INIT_ONCE initOnce = INIT_ONCE_STATIC_INIT;

// Far above a full update's transcript; past it only the file grows.
const size_t kTranscriptMemoryLimit = 16u << 20;

BOOL CALLBACK Initialise(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&g.lock);
    InitializeCriticalSection(&g.fileLock);
    InitializeConditionVariable(&g.delivered);
    g.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    QueryPerformanceFrequency(&g.frequency);
    QueryPerformanceCounter(&g.origin);
    char buffer[4096];
    DWORD length = GetEnvironmentVariableA("TAVI_SIM_LOG", buffer, sizeof buffer);
    EnterCriticalSection(&g.fileLock);
    Locked hold;
    // Appending, and shared, so a test can read the file while the program still writes it.
    if (length > 0 && length < sizeof buffer)
        g.transcriptFile = CreateFileA(buffer, FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    Log("begin %lu", GetCurrentProcessId());
    length = GetEnvironmentVariableA("TAVI_SIM", buffer, sizeof buffer);
    std::string text = (length > 0 && length < sizeof buffer) ? buffer : "normal";
    if (ApplyScenario(text) != 0) {
        // A scenario the test did not mean must not look like a working unit: no ports.
        g.ports.outputs.clear();
        g.ports.inputs.clear();
        g.unitCount = 0;
    }
    StartDriverThread();
    LeaveCriticalSection(&g.fileLock);
    g.ready = true;
    return TRUE;
}

void WriteTranscriptLine(const std::string& line) {
    if (g.transcript.size() + line.size() <= kTranscriptMemoryLimit)
        g.transcript += line;
    if (g.transcriptFile == INVALID_HANDLE_VALUE)
        return;
    if (g.unwritten.empty()) {
        g.unwrittenSince = NowTicks();
        WakeDriver(); // it may be asleep for longer than a line may wait
    }
    g.unwritten += line;
}

} // namespace

// Lines logged just before the process ends must still reach the file, unless a thread that
// died at exit holds a lock: then nothing is written rather than waiting for ever.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_DETACH || !g.ready)
        return TRUE;
    if (TryEnterCriticalSection(&g.fileLock)) {
        DWORD written = 0;
        if (TryEnterCriticalSection(&g.lock)) {
            WriteFile(g.transcriptFile, g.unwritten.data(), DWORD(g.unwritten.size()), &written,
                      nullptr);
            LeaveCriticalSection(&g.lock);
        }
        LeaveCriticalSection(&g.fileLock);
    }
    return TRUE;
}

void FlushTranscript() {
    std::string batch;
    EnterCriticalSection(&g.fileLock);
    HANDLE file = INVALID_HANDLE_VALUE;
    {
        Locked hold;
        batch.swap(g.unwritten);
        file = g.transcriptFile;
    }
    // Written outside g.lock, so the client's calls do not wait for the disk.
    if (file != INVALID_HANDLE_VALUE && !batch.empty()) {
        DWORD written = 0;
        WriteFile(file, batch.data(), static_cast<DWORD>(batch.size()), &written, nullptr);
    }
    LeaveCriticalSection(&g.fileLock);
}

void EnsureStandIn() {
    InitOnceExecuteOnce(&initOnce, Initialise, nullptr, nullptr);
}

int64_t NowTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart - g.origin.QuadPart;
}

uint64_t TicksToMs(int64_t ticks) {
    if (ticks <= 0)
        return 0;
    return static_cast<uint64_t>(ticks) / static_cast<uint64_t>(g.frequency.QuadPart) * 1000u +
           static_cast<uint64_t>(ticks) % static_cast<uint64_t>(g.frequency.QuadPart) * 1000u /
               static_cast<uint64_t>(g.frequency.QuadPart);
}

int64_t MsToTicks(uint64_t ms) {
    const uint64_t frequency = static_cast<uint64_t>(g.frequency.QuadPart);
    if (ms > static_cast<uint64_t>(INT64_MAX) / frequency)
        return INT64_MAX; // "never", for an unplug that is not scheduled
    return static_cast<int64_t>((ms * frequency + 999u) / 1000u);
}

uint64_t NowMs() {
    return TicksToMs(NowTicks());
}

void WakeDriver() {
    // Once signalled, the driver thread will look at everything: later news needs no signal.
    if (g.driverSleeping && g.wake) {
        g.driverSleeping = false;
        SetEvent(g.wake);
    } else {
        g.news.fetch_add(1);
    }
}

void Log(const char* format, ...) {
    // Sized first: a long SysEx in hex runs to thousands of characters.
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    vsnprintf(&text[0], text.size(), format, again);
    va_end(again);
    text.resize(text.size() - 1);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%.3f ",
             double(NowTicks()) * 1000 / double(g.frequency.QuadPart));
    WriteTranscriptLine(stamp + text + "\n");
}

std::string HexBytes(const uint8_t* bytes, size_t length) {
    std::string text(length ? length * 3 - 1 : 0, ' ');
    for (size_t i = 0; i < length; ++i) {
        text[3 * i] = "0123456789ABCDEF"[bytes[i] >> 4];
        text[3 * i + 1] = "0123456789ABCDEF"[bytes[i] & 15];
    }
    return text;
}

int ApplyScenario(const std::string& text) {
    PortSetup ports;
    std::string modelText;
    std::string error;
    UnitScenario scenarios[MAX_UNITS];
    bool parsed = ParsePortSetup(text, ports, modelText, error) == 0 &&
                  ParseScenario(modelText, scenarios[0], error) == 0;
    // The second unit runs the same knobs from a base of its own, if given.
    if (parsed && ports.units == 2) {
        const size_t knobs = modelText.find(';');
        const std::string secondText =
            (ports.secondBase.empty() ? modelText.substr(0, knobs) : ports.secondBase) +
            (knobs == std::string::npos ? "" : modelText.substr(knobs));
        parsed = ParseScenario(secondText, scenarios[1], error) == 0;
    }
    if (!parsed) {
        Log("configure-error %s", error.empty() ? "scenario not understood" : error.c_str());
        return -1;
    }
    g.ports = ports;
    Log("configure %s", text.c_str());
    g.unitCount = ports.units;
    for (int i = 0; i < MAX_UNITS; ++i) {
        SimUnit& unit = g.units[i];
        UnplugUnit(unit);
        unit.replugAtMs = UINT64_MAX;
        unit.listedAfter = 0;
        unit.scenario = scenarios[i];
        unit.out = i == 0 ? ports.unitOut : ports.secondOut;
        unit.in = i == 0 ? ports.unitIn : ports.secondIn;
        unit.tag = i == 0 ? "" : "unit2 ";
        if (i < g.unitCount)
            PlugInUnit(unit);
    }
    return 0;
}

namespace {

// What a unit had not yet sent is lost with it.
void DropRepliesOf(const SimUnit& unit) {
    const int index = static_cast<int>(&unit - g.units);
    g.replies.erase(std::remove_if(g.replies.begin(), g.replies.end(),
                                   [&](const DueReply& r) { return r.unit == index; }),
                    g.replies.end());
}

} // namespace

void PlugInUnit(SimUnit& unit) {
    unit.model = UnitModel{};
    UnitPlugIn(unit.model, unit.scenario, NowMs());
    ++unit.plugSerial;
    unit.gone = false;
    unit.replugAtMs = UINT64_MAX;
    unit.refusalsOver = false;
    unit.refusedHeader = nullptr;
    unit.refusalsLeft = 0;
    unit.leaveAfterReply = false;
    DropRepliesOf(unit);
    Log("%splug", unit.tag);
    WakeDriver(); // a timed unplug may now be due
}

void UnplugUnit(SimUnit& unit) {
    if (unit.gone)
        return;
    unit.gone = true;
    unit.model.unplugged = true;
    DropRepliesOf(unit);
    if (g.ports.replugAfterMs > 0)
        unit.replugAtMs = NowMs() + g.ports.replugAfterMs;
    Log("%sunplug", unit.tag);
}

SimHandle* FindHandleById(uint32_t id) {
    for (auto& h : g.handles)
        if (h->id == id)
            return h.get();
    return nullptr;
}

SimHandle* FindHandle(HANDLE handle, bool input) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value > 0xFFFFFFFFu)
        return nullptr;
    SimHandle* h = FindHandleById(static_cast<uint32_t>(value));
    return (h && h->input == input) ? h : nullptr;
}

int UnitAtPort(bool input, int port) {
    for (int i = 0; i < g.unitCount; ++i)
        if (port >= 0 && port == (input ? g.units[i].in : g.units[i].out))
            return i;
    return -1;
}

void NoticeTimedUnplug() {
    for (int i = 0; i < g.unitCount; ++i) {
        SimUnit& unit = g.units[i];
        if (!unit.gone && UnitUnplugged(unit.model, NowMs())) {
            UnplugUnit(unit);
        } else if (unit.gone && NowMs() >= unit.replugAtMs) {
            // Plugged in again by hand: its scripted unplug is behind it.
            unit.scenario.unplugAfterMs = -1;
            unit.scenario.unplugDuringErase = false;
            unit.listedAfter = g.ports.wms ? ++g.plugIns : 0;
            PlugInUnit(unit);
        }
    }
}

bool UnitGoneFor(const SimHandle& h) {
    // A timed unplug counts from its moment, not from when the driver thread next looks.
    NoticeTimedUnplug();
    return h.unit >= 0 && (g.units[h.unit].gone || h.plugSerial != g.units[h.unit].plugSerial);
}

MMRESULT GoneAnswer(SimHandle& h, CallKind kind, const char* function, unsigned* blockMs) {
    MMRESULT code = MMSYSERR_NOERROR;
    if (!g.ports.wms) {
        // The classic stack: data calls fail; stop, reset, release and close still work.
        if (kind == CallKind::Send || kind == CallKind::Start || kind == CallKind::AddBuffer)
            code = g.ports.goneCode;
    } else if (!g.ports.oldBuild) {
        // Every call on a removed device answers 6; only the closes go on (ClosePort), and an
        // input's is refused while buffers are queued, which nothing can return any more.
        code = MMSYSERR_NODRIVER;
    } else if (kind == CallKind::Send) {
        // Older builds only notice when the service does not take a send in time (1 s);
        // start and adding a buffer never ask the service.
        if (blockMs && !h.timedOut)
            *blockMs = 1000;
        h.timedOut = true;
        code = MMSYSERR_ERROR;
    }
    if (code != MMSYSERR_NOERROR)
        Log("refused %s %u", function, code);
    return code;
}

void ReusedHeader(const SimHandle& h, const MIDIHDR* header, const char* function) {
    for (auto& other : g.handles)
        if (other.get() != &h && std::count(other->queue.begin(), other->queue.end(), header))
            Log("reused %s", function);
}

namespace {

std::vector<int> Listed(const std::vector<std::string>& names, bool input) {
    NoticeTimedUnplug();
    // Removed ports leave the list and the rest close up; on the service a unit plugged in
    // again takes the first free numbers, after the ports already there.
    std::vector<std::pair<unsigned, int>> listed;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        const int unit = UnitAtPort(input, i);
        if (unit < 0 || !g.units[unit].gone)
            listed.emplace_back(unit < 0 ? 0 : g.units[unit].listedAfter, i);
    }
    std::stable_sort(listed.begin(), listed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<int> ports;
    for (const auto& entry : listed)
        ports.push_back(entry.second);
    return ports;
}

} // namespace

std::vector<int> ListedOutputs() {
    return Listed(g.ports.outputs, false);
}
std::vector<int> ListedInputs() {
    return Listed(g.ports.inputs, true);
}

void UnitTakes(SimUnit& unit, const uint8_t* bytes, size_t length, bool shortMessage) {
    // Replies go out at the exact moment of receipt (taken after the rx line) plus what the
    // model adds to its whole millisecond: a delay is never cut short nor grown by rounding.
    Log("%srx %s", unit.tag, HexBytes(bytes, length).c_str());
    const int64_t receivedTicks = NowTicks();
    const bool booting = unit.model.updateMode;
    const uint64_t now = TicksToMs(receivedTicks);
    std::vector<UnitOutput> out;
    if (shortMessage)
        UnitReceiveShort(unit.model, now, bytes, length);
    else
        UnitReceive(unit.model, now, bytes, length, out);
    if (UnitUnplugged(unit.model, now)) {
        UnplugUnit(unit);
        return;
    }
    if (g.ports.restart && booting && !unit.model.updateMode) {
        // Back on USB it runs the firmware it was given.
        unit.scenario.updateMode = false;
        unit.scenario.answersSettings = unit.model.answersSettings;
        memcpy(unit.scenario.version, unit.model.version, 2);
        unit.leaveAfterReply = true;
    }
    for (auto& reply : out) {
        const uint64_t after = reply.dueMs > now ? reply.dueMs - now : 0;
        const int64_t due = receivedTicks + MsToTicks(after);
        // Keep the list in due order; replies due at the same time keep their order.
        auto at = g.replies.end();
        while (at != g.replies.begin() && (at - 1)->dueTicks > due)
            --at;
        g.replies.insert(at, DueReply{due, std::move(reply), static_cast<int>(&unit - g.units)});
    }
    if (!out.empty())
        WakeDriver();
}

MMRESULT CheckHeader(const MIDIHDR* header, UINT size) {
    // Older callers pass the shorter header that ends before dwOffset; WinMM takes that.
    if (!header || size < offsetof(MIDIHDR, dwOffset))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

// Only the callback kinds the program uses are offered: none, or a function.
MMRESULT CheckCallback(DWORD flags, DWORD allowedExtra) {
    const DWORD kind = flags & CALLBACK_TYPEMASK;
    return (flags & ~(CALLBACK_TYPEMASK | allowedExtra)) ||
                   (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION)
               ? MMSYSERR_INVALFLAG
               : MMSYSERR_NOERROR;
}

// The functions tests call to steer the simulated unit (declared in sim_control.h).
namespace {

void CopyOut(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0)
        return;
    size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : size - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

extern "C" {

int SimConfigure(const char* scenarioText) {
    EnsureStandIn();
    Locked hold;
    return ApplyScenario(scenarioText ? scenarioText : "");
}

void SimUnplug(void) {
    EnsureStandIn();
    Locked hold;
    UnplugUnit(g.units[0]);
}

int SimReadTranscript(char* buffer, int size) {
    EnsureStandIn();
    FlushTranscript(); // a test may compare the file with what it reads here
    Locked hold;
    CopyOut(g.transcript, buffer, size);
    return static_cast<int>(g.transcript.size());
}

void SimClearTranscript(void) {
    EnsureStandIn();
    FlushTranscript();
    Locked hold;
    g.transcript.clear();
}

int SimInject(const unsigned char* bytes, int length, int isShort) {
    EnsureStandIn();
    if (!bytes || length <= 0 || (isShort && length > 3))
        return -1;
    Locked hold;
    if (g.units[0].gone)
        return -1;
    const int64_t now = NowTicks();
    UnitOutput output{NowMs(), isShort != 0, std::vector<uint8_t>(bytes, bytes + length)};
    // Due now: after everything already due, before anything due later.
    auto at = g.replies.begin();
    while (at != g.replies.end() && at->dueTicks <= now)
        ++at;
    g.replies.insert(at, DueReply{now, std::move(output)});
    WakeDriver();
    return 0;
}

} // extern "C"
