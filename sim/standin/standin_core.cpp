// The stand-in's process-wide record: start-up, clock, transcript, handles and the unit.
#include "sim/standin/standin.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

StandIn g;

namespace {

INIT_ONCE initOnce = INIT_ONCE_STATIC_INIT;

// A transcript grows by about 60 bytes a message; a full update is far below this. Past it
// only the file keeps growing, so a runaway client cannot eat the test's memory.
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
    if (length > 0 && length < sizeof buffer && SetTranscriptPath(buffer) != 0)
        OutputDebugStringA("stand-in winmm: cannot open the TAVI_SIM_LOG file\n");
    Log("begin %lu", GetCurrentProcessId());
    length = GetEnvironmentVariableA("TAVI_SIM", buffer, sizeof buffer);
    std::string text = (length > 0 && length < sizeof buffer) ? buffer : "normal";
    if (ApplyScenario(text) != 0) {
        // A scenario the test did not mean must not look like a working unit: no ports.
        g.ports.outputs.clear();
        g.ports.inputs.clear();
        g.unitCount = 0;
        OutputDebugStringA(("stand-in winmm: " + g.configureError + "\n").c_str());
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

// Under fileLock and g.lock.
void WriteUnwritten() {
    if (g.transcriptFile != INVALID_HANDLE_VALUE && !g.unwritten.empty()) {
        DWORD written = 0;
        WriteFile(g.transcriptFile, g.unwritten.data(), static_cast<DWORD>(g.unwritten.size()),
                  &written, nullptr);
    }
    g.unwritten.clear();
}

} // namespace

// Lines logged just before the process ends must still reach the file. At process exit the
// other threads are already gone; one of them may have died holding a lock, and then its
// line is half made anyway, so nothing is written rather than waiting for ever.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_DETACH || !g.ready)
        return TRUE;
    if (TryEnterCriticalSection(&g.fileLock)) {
        if (TryEnterCriticalSection(&g.lock)) {
            WriteUnwritten();
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
    // Written outside g.lock, so the client's calls do not wait for the disk. The file
    // cannot change meanwhile: switching it takes fileLock.
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

double NowMsExact() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - g.origin.QuadPart) * 1000.0 /
           static_cast<double>(g.frequency.QuadPart);
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
    snprintf(stamp, sizeof stamp, "%.3f ", NowMsExact());
    WriteTranscriptLine(stamp + text + "\n");
}

std::string HexBytes(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

int SetTranscriptPath(const char* path) {
    WriteUnwritten(); // the lines logged so far belong to the old file
    if (g.transcriptFile != INVALID_HANDLE_VALUE)
        CloseHandle(g.transcriptFile);
    g.transcriptFile = INVALID_HANDLE_VALUE;
    g.transcriptPath.clear();
    if (!path || !*path)
        return 0;
    // Appending, and shared, so a test can read the file while the program still writes it.
    HANDLE file =
        CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    g.transcriptFile = file;
    g.transcriptPath = path;
    return 0;
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
        g.configureError = error.empty() ? "scenario not understood" : error;
        Log("configure-error %s", g.configureError.c_str());
        return -1;
    }
    g.configureError.clear();
    g.ports = ports;
    g.scenarioText = text;
    Log("configure %s", text.c_str());
    g.unitCount = ports.units;
    for (int i = 0; i < MAX_UNITS; ++i) {
        SimUnit& unit = g.units[i];
        UnplugUnit(unit);
        unit.replugAtMs = UINT64_MAX;
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
    for (size_t i = g.replies.size(); i-- > 0;)
        if (g.replies[i].unit == index)
            g.replies.erase(g.replies.begin() + static_cast<std::ptrdiff_t>(i));
}

} // namespace

void PlugInUnit(SimUnit& unit) {
    unit.model = UnitModel{};
    UnitPlugIn(unit.model, unit.scenario, NowMs());
    ++unit.plugSerial;
    unit.gone = false;
    unit.replugAtMs = UINT64_MAX;
    unit.messagesReceived = 0;
    unit.longMessagesSent = 0;
    unit.refusedHeader = nullptr;
    unit.refusalsLeft = 0;
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

bool IsUnitPort(const SimHandle& h) {
    return h.unit >= 0;
}

void NoticeTimedUnplug() {
    for (int i = 0; i < g.unitCount; ++i) {
        SimUnit& unit = g.units[i];
        if (!unit.gone && UnitUnplugged(unit.model, NowMs())) {
            UnplugUnit(unit);
        } else if (unit.gone && NowMs() >= unit.replugAtMs) {
            // Plugged in again by hand: its scripted unplug is behind it.
            unit.scenario.unplugAfterMs = -1;
            unit.scenario.unplugAtRecord = -1;
            unit.scenario.unplugDuringErase = false;
            PlugInUnit(unit);
        }
    }
}

bool UnitGoneFor(const SimHandle& h) {
    // A timed unplug counts from its moment, not from when the driver thread next looks.
    NoticeTimedUnplug();
    return IsUnitPort(h) && (g.units[h.unit].gone || h.plugSerial != g.units[h.unit].plugSerial);
}

MMRESULT GoneAnswer(const char* function, unsigned* blockMs) {
    Log("refused %s %u", function, g.ports.goneCode);
    if (blockMs)
        *blockMs = g.ports.blockAfterUnplugMs;
    return g.ports.goneCode;
}

namespace {

std::vector<int> Listed(const std::vector<std::string>& names, bool input) {
    NoticeTimedUnplug();
    std::vector<int> listed;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        const int unit = UnitAtPort(input, i);
        if (unit < 0 || !g.units[unit].gone || g.ports.keepPorts)
            listed.push_back(i);
    }
    return listed;
}

} // namespace

std::vector<int> ListedOutputs() {
    return Listed(g.ports.outputs, false);
}
std::vector<int> ListedInputs() {
    return Listed(g.ports.inputs, true);
}

void UnitTakes(SimUnit& unit, const uint8_t* bytes, size_t length, bool shortMessage) {
    // The model counts whole milliseconds; its replies go out at the exact moment of receipt
    // plus what the model adds to its millisecond, so a reply delay is never cut short and
    // never grows by the rounding.
    // The moment of receipt is taken after the rx line, so the transcript never shows a
    // reply sooner after its request than the delay.
    Log("%srx %s", unit.tag, HexBytes(bytes, length).c_str());
    const int64_t receivedTicks = NowTicks();
    const uint64_t now = TicksToMs(receivedTicks);
    ++unit.messagesReceived;
    std::vector<UnitOutput> out;
    if (shortMessage)
        UnitReceiveShort(unit.model, now, bytes, length);
    else
        UnitReceive(unit.model, now, bytes, length, out);
    if (UnitUnplugged(unit.model, now)) {
        UnplugUnit(unit);
        return;
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
    // Older callers pass the shorter header that ends before dwOffset; anything smaller is
    // refused, as WinMM does.
    if (!header || size < offsetof(MIDIHDR, dwOffset))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MMRESULT CheckCallback(DWORD flags, DWORD_PTR target, DWORD allowedExtra) {
    if (flags & ~(CALLBACK_TYPEMASK | allowedExtra))
        return MMSYSERR_INVALFLAG;
    switch (flags & CALLBACK_TYPEMASK) {
    case CALLBACK_NULL:
    case CALLBACK_FUNCTION:
    case CALLBACK_THREAD:
    case CALLBACK_EVENT:
        return MMSYSERR_NOERROR;
    case CALLBACK_WINDOW:
        if (target && !IsWindow(reinterpret_cast<HWND>(target)))
            return MMSYSERR_INVALPARAM;
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_INVALFLAG;
    }
}
