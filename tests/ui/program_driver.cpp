// The steps' verbs; CTL names a control below (on, off and keeps take several, or "settings").
//   pick NAME; drop; undrop [N]     choose NAME in the port list; open it (a box may come
//                                   first); close it, having chosen entry N
//   entries A|B; text/now CTL T     the list holds these entries; CTL shows T (now: at once)
//   pos/past CTL N                  its position (bar, slider, arrows, check box) is N / >= N
//   on/off CTL...; keeps CTL...     enabled / disabled; texts and states stay over two ticks
//   click CTL; command CTL          a click (nothing when disabled); its command regardless
//   type T; arrow up|down           T typed into the MMC ID field, then left; an arrow click
//   key esc|enter|right             to the focus; right to the slider
//   box CAPTION|TEXT; nobox         a box shows this (TEXT ending "...": begins so), its OK is
//                                   pressed; no box is up
//   log PREFIX=N                    the transcript holds N events beginning PREFIX (0: now)
//   seq/paced PREFIX: A, B          its first such events are PREFIX A, PREFIX B (paced: each
//                                   at least 50 ms after the one before)
//   close; exit N; alive; shot NAME WM_CLOSE; it ends with code N; runs 300 ms on; a picture
//   again                           a second start of the program ends at once with 0
//   picture 1:1|frame               the front panel shows at its own 200 x 70 pixels / fills
//                                   its frame (133 x 43 dialog units, found from the bar's)
// Each waits (bounded) for what it names, unless it says "now".
#include "tests/ui/program_driver.h"
#include "tests/standin/stand_in.h"
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include "ui/ids.h"

namespace {

constexpr DWORD kWaitMs = 60000; // far above anything the program does, a full update included
// The controls by the names the steps give them; "settings" stands for the seven of them.
// clang-format off
const std::pair<const char*, int> kControls[] = {
    {"list", IDC_PORT_LIST}, {"update", IDC_UPDATE}, {"help", IDC_HELP_UPDATE},
    {"help-settings", IDC_HELP_SETTINGS}, {"zero", IDC_BLANK_ZERO}, {"frames", IDC_BLANK_FRAMES},
    {"ltc", IDC_NO_STATIONARY_LTC}, {"fly", IDC_FLYWHEEL}, {"mmc", IDC_MMC_ID},
    {"spin", IDC_MMC_SPIN}, {"bright", IDC_BRIGHTNESS}, {"device", IDC_DEVICE_TEXT},
    {"line", IDC_UPDATE_TEXT}, {"bar", IDC_PROGRESS}};
// clang-format on
const char kSettings[] = "$1zero frames ltc fly mmc spin bright"; // in place of "settings"

struct App {
    std::string path;
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;
    std::string transcript, shots;
    int shot = 0;
};

bool Start(const std::string& path, PROCESS_INFORMATION& process) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process) != FALSE;
}

// Each look is a message to another process: every 20 ms is often enough.
bool Wait(const std::function<bool()>& condition, DWORD boundMs = kWaitMs) {
    return WaitUntil(condition, boundMs, 20);
}

// A window's text, or with CB_GETLBTEXT a list entry's. The wide message is marshalled across
// processes; the narrow one is not always.
std::string Text(HWND window, UINT message = WM_GETTEXT, WPARAM which = 2048) {
    wchar_t text[2048] = {};
    char out[4096] = {};
    SendMessageW(window, message, which, reinterpret_cast<LPARAM>(text));
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
    std::string narrow(out);
    narrow.erase(std::remove(narrow.begin(), narrow.end(), '\r'), narrow.end());
    return narrow;
}
std::vector<std::string> Split(const std::string& text, const char* by) {
    const std::regex separator(by);
    return {std::sregex_token_iterator(text.begin(), text.end(), separator, -1), {}};
}

// The program's shown dialog-class window: its main window, or else a message box.
HWND Dialog(const App& app, bool main) {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, MAKEINTATOM(32770), nullptr));) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == app.process.dwProcessId && IsWindowVisible(w) &&
            (Text(w) == " tavi setup 2.1") == main) {
            return w;
        }
    }
    return nullptr;
}

TimedEvents Transcript(const App& app, const std::string& prefix) {
    std::ifstream file(app.transcript, std::ios::binary);
    return ParseTranscript(std::string(std::istreambuf_iterator<char>(file), {}), prefix);
}

HWND Control(const App& app, const std::string& name) {
    const auto* c = std::find_if(std::begin(kControls), std::end(kControls),
                                 [&](const auto& known) { return name == known.first; });
    return c == std::end(kControls) ? nullptr : GetDlgItem(app.dialog, c->second);
}
std::string Entries(HWND list) {
    std::string entries;
    for (LRESULT i = 0, count = SendMessageW(list, CB_GETCOUNT, 0, 0); i < count; ++i) {
        entries += (i ? "|" : "") + Text(list, CB_GETLBTEXT, WPARAM(i));
    }
    return entries;
}

bool Step(App& app, const std::string& step) {
    const std::string verb = step.substr(0, step.find(' '));
    // A warning at start-up comes before the main window shows; every other step needs it.
    if (verb != "box" && !app.dialog &&
        !Wait([&] { return (app.dialog = Dialog(app, true)) != nullptr; })) {
        return false;
    }
    const std::string rest = step.size() > verb.size() ? step.substr(verb.size() + 1) : "";
    const std::string name = rest.substr(0, rest.find(' '));
    const std::string arg = rest.size() > name.size() ? rest.substr(name.size() + 1) : "";
    HWND control = Control(app, name), list = Control(app, "list");
    if (verb == "pick" || verb == "drop" || verb == "undrop") {
        const bool posted = verb == "undrop" || PostMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
        if (verb == "drop" || !posted) {
            return posted;
        }
        const bool dropped = Wait([&] { return SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0); });
        const std::vector<std::string> names = Split(Entries(list), "\\|");
        const int at = verb == "pick"
                           ? int(std::find(names.begin(), names.end(), rest) - names.begin())
                       : rest.empty() ? -1
                                      : std::atoi(rest.c_str());
        if (at >= 0 && at < int(names.size())) {
            SendMessageW(list, CB_SETCURSEL, WPARAM(at), 0);
        }
        // Posted, not sent: the close-up sends seven messages 50 ms apart and may show a box.
        PostMessageW(list, CB_SHOWDROPDOWN, FALSE, 0);
        return Wait([&] { return !SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0); }) && dropped &&
               at < int(names.size());
    }
    if (verb == "entries") {
        return Wait([&] { return Entries(list) == rest; });
    }
    if (verb == "text" || verb == "now") {
        return Wait([&] { return Text(control) == arg; }, verb == "now" ? 0 : kWaitMs);
    }
    if (verb == "pos" || verb == "past") { // a bar's, a slider's, the arrows' or a check box's
        const std::map<int, UINT> asks = {
            {IDC_PROGRESS, PBM_GETPOS}, {IDC_BRIGHTNESS, TBM_GETPOS}, {IDC_MMC_SPIN, UDM_GETPOS32}};
        const auto ask = asks.find(GetDlgCtrlID(control));
        const UINT message = ask == asks.end() ? BM_GETCHECK : ask->second;
        const LRESULT n = std::atoi(arg.c_str());
        return Wait([&] {
            const LRESULT at = SendMessageW(control, message, 0, 0);
            return verb == "pos" ? at == n : at >= n;
        });
    }
    // The named controls' texts (when asked) and whether each is enabled, + or -.
    const auto state = [&](bool texts) {
        std::string s;
        for (const std::string& one :
             Split(std::regex_replace(rest, std::regex("(^| )settings$"), kSettings), " ")) {
            s += (texts ? Text(Control(app, one)) : "") +
                 (IsWindowEnabled(Control(app, one)) ? "+" : "-");
        }
        return s;
    };
    if (verb == "on" || verb == "off") {
        return Wait(
            [&] { return state(false).find(verb == "on" ? '-' : '+') == std::string::npos; });
    }
    if (verb == "keeps") {
        const std::string before = state(true);
        return !Wait([&] { return state(true) != before; }, 2 * STATUS_TIMER_MS + 100);
    }
    if (verb == "click" || verb == "command") {
        return verb == "click" ? PostMessageW(control, BM_CLICK, 0, 0) != FALSE
                               : PostMessageW(app.dialog, WM_COMMAND,
                                              MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
                                              reinterpret_cast<LPARAM>(control)) != FALSE;
    }
    if (verb == "type") {
        HWND field = Control(app, "mmc");
        const std::wstring text(rest.begin(), rest.end());
        // A report of the unit's still queued would overwrite the text before it is left: a
        // selection posted behind it shows once the queue has come that far.
        const LRESULT selected = SendMessageW(field, WM_GETTEXTLENGTH, 0, 0) > 0 ? 0x10000 : 0;
        SendMessageW(field, EM_SETSEL, 0, 0);
        PostMessageW(field, EM_SETSEL, 0, 1);
        return Wait([&] { return SendMessageW(field, EM_GETSEL, 0, 0) == selected; }) &&
               SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                   SMTO_NORMAL, kWaitMs, nullptr) &&
               PostMessageW(field, WM_KILLFOCUS, 0, 0);
    }
    if (verb == "arrow") {
        HWND spin = Control(app, "spin");
        RECT area;
        GetClientRect(spin, &area);
        const LPARAM at =
            MAKELPARAM(area.right / 2, rest == "up" ? area.bottom / 4 : area.bottom * 3 / 4);
        return PostMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, at) &&
               PostMessageW(spin, WM_LBUTTONUP, 0, at);
    }
    if (verb == "key") { // esc and enter to the control with the focus, right to the slider
        GUITHREADINFO focus{};
        focus.cbSize = sizeof focus;
        GetGUIThreadInfo(app.process.dwThreadId, &focus);
        const WPARAM key = rest == "esc" ? VK_ESCAPE : rest == "enter" ? VK_RETURN : VK_RIGHT;
        HWND target = key == VK_RIGHT ? Control(app, "bright") : focus.hwndFocus;
        const LPARAM scan = LPARAM(MapVirtualKeyW(UINT(key), MAPVK_VK_TO_VSC)) << 16;
        return PostMessageW(target, WM_KEYDOWN, key, 1 | scan) &&
               PostMessageW(target, WM_KEYUP, key, 1 | scan | (3LL << 30));
    }
    if (verb == "box") {
        HWND box = nullptr;
        const bool prefix = std::regex_search(rest, std::regex("\\.\\.\\.$"));
        const std::string wanted = rest.substr(0, rest.size() - (prefix ? 3 : 0));
        Wait([&] { return (box = Dialog(app, false)) != nullptr; });
        std::string text; // the box's longest static
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char kind[16] = {};
            GetClassNameA(c, kind, sizeof kind);
            text = lstrcmpiA(kind, "Static") == 0 && Text(c).size() > text.size() ? Text(c) : text;
        }
        const std::string shown = Text(box) + "|" + text;
        const bool same = box && shown.compare(0, prefix ? wanted.size() : shown.npos, wanted) == 0;
        (void)(same || fprintf(stderr, "box shown: %s\n", shown.c_str()));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        return same && Wait([&] { return !IsWindow(box) || !IsWindowVisible(box); });
    }
    if (verb == "nobox") {
        return Dialog(app, false) == nullptr;
    }
    if (verb == "log") {
        const std::string prefix = rest.substr(0, rest.rfind('='));
        const size_t n = size_t(std::atoi(rest.c_str() + prefix.size() + 1));
        size_t seen = 0;
        Wait([&] { return (seen = Transcript(app, prefix).size()) >= n; }, n ? kWaitMs : 0);
        return seen == n ||
               (fprintf(stderr, "the transcript holds %zu such events\n", seen), false);
    }
    if (verb == "seq" || verb == "paced") {
        const std::string prefix = rest.substr(0, rest.find(": "));
        const std::vector<std::string> items = Split(rest.substr(prefix.size() + 2), ", ");
        TimedEvents events;
        bool held = Wait([&] { return (events = Transcript(app, prefix)).size() >= items.size(); });
        for (size_t i = 0; held && i < items.size(); ++i) {
            held = events[i].second == prefix + " " + items[i] &&
                   (verb == "seq" || i == 0 || events[i].first - events[i - 1].first >= 49.999);
        }
        return held;
    }
    if (verb == "picture") {
        RECT shown, bar;
        GetWindowRect(GetDlgItem(app.dialog, -1), &shown); // the first control without an id
        GetWindowRect(Control(app, "bar"), &bar);          // 3, 114, 133, 7 in dialog units
        MapWindowPoints(nullptr, app.dialog, reinterpret_cast<POINT*>(&shown), 2);
        MapWindowPoints(nullptr, app.dialog, reinterpret_cast<POINT*>(&bar), 2);
        // The frame maps as the bar does, position and size apart, by the font's units: as wide
        // as the bar, and as high as the vertical unit found from the bar makes 43.
        RECT frame = {bar.left, 0, bar.right, 0};
        for (int unit = 1; unit < 64; ++unit) {
            if (MulDiv(114, unit, 8) == bar.top && MulDiv(7, unit, 8) == bar.bottom - bar.top) {
                frame.top = MulDiv(3, unit, 8), frame.bottom = frame.top + MulDiv(43, unit, 8);
            }
        }
        const SIZE size = {shown.right - shown.left, shown.bottom - shown.top};
        return rest == "1:1" ? size.cx == 200 && size.cy == 70
                             : EqualRect(&shown, &frame) && size.cx > 200 && size.cy > 70;
    }
    if (verb == "again") {
        App second = app;
        const bool ended = Start(app.path, second.process) && Step(second, "exit 0");
        CloseHandle(second.process.hThread);
        CloseHandle(second.process.hProcess);
        return ended;
    }
    DWORD code = 99;
    if (verb == "close") {
        return PostMessageW(app.dialog, WM_CLOSE, 0, 0);
    }
    if (verb == "exit" || verb == "alive") {
        const DWORD ended =
            WaitForSingleObject(app.process.hProcess, verb == "exit" ? kWaitMs : 300);
        return verb == "alive"
                   ? ended == WAIT_TIMEOUT
                   : ended == WAIT_OBJECT_0 && GetExitCodeProcess(app.process.hProcess, &code) &&
                         code == DWORD(std::atoi(rest.c_str()));
    }
    if (verb != "shot") {
        return false;
    }
    char stage[64];
    snprintf(stage, sizeof stage, "%02d-%s", ++app.shot, rest.c_str());
    printf("stage %s\n", stage);
    fflush(stdout);
    const std::string request = app.shots + "\\" + stage + ".wanted";
    FILE* file = app.shots.empty() ? nullptr : fopen(request.c_str(), "w");
    return app.shots.empty() || (file && fclose(file) == 0 &&
                                 Wait([&] { return GetFileAttributesA(request.c_str()) == ~0u; }));
}

} // namespace

std::string RunScenario(const Scenario& scenario, const std::string& stack,
                        const std::string& shotFolder) {
    App app;
    app.shots = shotFolder;
    char folder[MAX_PATH] = {}, self[MAX_PATH] = {}, transcript[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "tav", 0, transcript); // created empty, a name of its own
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    app.transcript = transcript;
    // The program inherits both; the stand-in reads them once, when it is loaded.
    const std::string sim = scenario.sim + std::string(stack == "wms" ? ";stack=wms" : "");
    SetEnvironmentVariableA("TAVI_SIM", sim.c_str());
    SetEnvironmentVariableA("TAVI_SIM_LOG", app.transcript.c_str());
    app.path = std::regex_replace(self, std::regex("[^\\\\/]+$"), scenario.program);
    // Wine takes its display setting from here when a program starts.
    const auto setDpi = [](DWORD dpi) {
        RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &dpi,
                        4);
    };
    setDpi(scenario.dpi);
    const bool started = Start(app.path, app.process);
    WaitForInputIdle(app.process.hProcess, kWaitMs);
    setDpi(96);
    if (!started) {
        return "cannot start " + app.path;
    }
    const auto stop = std::find_if_not(scenario.steps.begin(), scenario.steps.end(),
                                       [&](const std::string& step) { return Step(app, step); });
    const std::string failed = stop == scenario.steps.end()
                                   ? ""
                                   : *stop + " (status line \"" + Text(Control(app, "device")) +
                                         "\", update line \"" + Text(Control(app, "line")) + "\")";
    // Ended outright: a closing window costs Wine two seconds without a window manager.
    TerminateProcess(app.process.hProcess, 1);
    WaitForSingleObject(app.process.hProcess, 5000);
    CloseHandle(app.process.hThread);
    CloseHandle(app.process.hProcess);
    DeleteFileA(app.transcript.c_str());
    return failed;
}
