// The page's way into the core: the same protocol, image walk, update sequence and text rule
// as the Windows program, with the page's JavaScript (Module.shell) in the place of WinMM and
// the dialog. The browser has one thread, so the sequence's pauses are awaits (Asyncify): each
// ends when its time is up or the moment the page hands over an awaited reply.
#include <emscripten.h>

#include <cstdint>
#include <string>
#include <vector>

#include "firmware/update_sequence.h"
#include "midi/port_pairing.h"
#include "protocol/device_state.h"
#include "protocol/messages.h"
#include "protocol/reply_parser.h"
#include "ui/mmc_id_text.h"

extern "C" {
extern const uint8_t tavi_image[];
extern const size_t tavi_image_size;
}

namespace {

// The page copies the bytes before this returns: Web MIDI keeps its own copy of a message.
// JavaScript inside: left as written.
// clang-format off
EM_JS(void, ShellSend, (const uint8_t* bytes, size_t length), {
    Module.shell.send(HEAPU8.slice(bytes, bytes + length));
});
EM_JS(int, ShellLinkOpen, (), { return Module.shell.linkOpen() ? 1 : 0; });
EM_JS(void, ShellStatus, (const char* text), { Module.shell.status(UTF8ToString(text)); });
EM_JS(void, ShellProgress, (int percent), { Module.shell.progress(percent); });
EM_JS(void, ShellDone, (), { Module.shell.done(); });
EM_JS(void, ShellOption, (int option, int on), { Module.shell.option(option, on !== 0); });
EM_JS(void, ShellMmcId, (int id), { Module.shell.mmcId(id); });
EM_JS(void, ShellBrightness, (int level), { Module.shell.brightness(level); });
EM_ASYNC_JS(void, ShellWait, (unsigned ms, int awaited, int alternative), {
    await Module.shell.wait(ms, awaited, alternative);
});
EM_ASYNC_JS(void, ShellMessage, (const char* text, const char* caption), {
    await Module.shell.message(UTF8ToString(text), UTF8ToString(caption));
});
// clang-format on

void Send(void*, const uint8_t* bytes, size_t length) {
    ShellSend(bytes, length);
}
uint8_t ReadReply(void*) {
    return LoadReplyCode(TheDevice);
}
void ClearReply(void*) {
    ClearReplyCode(TheDevice);
}
void ReadVersion(void*, uint8_t version[2]) {
    version[0] = TheDevice.FirmwareVersion[0].load();
    version[1] = TheDevice.FirmwareVersion[1].load();
}
void WaitForReply(void*, unsigned ms, uint8_t awaited, uint8_t alternative) {
    ShellWait(ms, awaited, alternative);
}
bool LinkOpen(void*) {
    return ShellLinkOpen() != 0;
}
void PostStatus(void*, int status) {
    if (const char* text = UpdateStatusText(status)) {
        ShellStatus(text);
    }
}
void PostProgress(void*, uint16_t percent) {
    ShellProgress(percent);
}
void ShowMessage(void*, const char* text, const char* caption) {
    ShellMessage(text, caption);
}
// A page never closes itself: after a failed run it goes back to port selection, which the
// page does on done anyway.
void RequestClose(void*) {}
void PostDone(void*) {
    ShellDone();
}

void OptionReported(void*, Option option, bool on) {
    ShellOption(option, on ? 1 : 0);
}
void MmcIdReported(void*, int id) {
    ShellMmcId(id);
}
void BrightnessReported(void*, uint8_t level) {
    ShellBrightness(level);
}
const SettingsSink PageSink = {nullptr, OptionReported, MmcIdReported, BrightnessReported};

void SendMessage(const SysExMessage& message) {
    ShellSend(message.bytes, message.length);
}

// count names, one a line (a name holds no line break).
std::vector<PortIdentity> SplitNames(const char* names, int count) {
    std::vector<PortIdentity> ports;
    std::string name;
    for (const char* c = names; c && *c && static_cast<int>(ports.size()) < count; ++c) {
        if (*c == '\n') {
            ports.push_back({name, ""});
            name.clear();
        } else {
            name += *c;
        }
    }
    while (static_cast<int>(ports.size()) < count) {
        ports.push_back({name, ""});
        name.clear();
    }
    return ports;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void tavi_start() {
    InstallSettingsSink(TheDevice, &PageSink);
}

// Where the page puts one whole message from the input, as the program's receive buffers
// hold one: a longer message is never parsed.
constexpr size_t REPLY_BUFFER_SIZE = 512;
uint8_t ReplyBuffer[REPLY_BUFFER_SIZE];

EMSCRIPTEN_KEEPALIVE uint8_t* tavi_reply_buffer() {
    return ReplyBuffer;
}
EMSCRIPTEN_KEEPALIVE int tavi_reply_buffer_size() {
    return REPLY_BUFFER_SIZE;
}
// Parses count bytes of the reply buffer. Returns the reply code it stored, or 0 when the
// message was ignored.
EMSCRIPTEN_KEEPALIVE int tavi_reply(size_t count) {
    if (count > REPLY_BUFFER_SIZE) {
        return 0;
    }
    return ReplyParser(TheDevice, ReplyBuffer, count) ? ReplyBuffer[3] : 0;
}

EMSCRIPTEN_KEEPALIVE int tavi_device_mode() {
    return LoadDeviceMode(TheDevice);
}
EMSCRIPTEN_KEEPALIVE void tavi_set_absent() {
    TheDevice.DeviceMode.store(Absent);
}
EMSCRIPTEN_KEEPALIVE int tavi_version(int index) {
    return TheDevice.FirmwareVersion[index & 1].load();
}

EMSCRIPTEN_KEEPALIVE int tavi_opening_query_count() {
    return OPENING_QUERY_COUNT;
}
EMSCRIPTEN_KEEPALIVE void tavi_send_opening_query(int index) {
    if (index >= 0 && index < OPENING_QUERY_COUNT) {
        SendMessage(MessageTable[OpeningQueries[index]]);
    }
}
EMSCRIPTEN_KEEPALIVE void tavi_send_option(int option, int on) {
    if (option >= 0 && option < OPTION_COUNT) {
        SendMessage(OptionMessage(static_cast<Option>(option), on != 0));
    }
}
// 0 when sent; -1 for a value the unit would read as a query, which is never sent.
EMSCRIPTEN_KEEPALIVE int tavi_send_mmc_id(int id) {
    uint8_t message[SET_MESSAGE_LENGTH];
    if (id < 0 || BuildMmcIdSet(static_cast<unsigned>(id), message) != 0) {
        return -1;
    }
    ShellSend(message, sizeof message);
    return 0;
}
EMSCRIPTEN_KEEPALIVE int tavi_send_brightness(int level) {
    uint8_t message[SET_MESSAGE_LENGTH];
    if (level < 0 || BuildBrightnessSet(static_cast<unsigned>(level), message) != 0) {
        return -1;
    }
    ShellSend(message, sizeof message);
    return 0;
}

EMSCRIPTEN_KEEPALIVE int tavi_mmc_id_from_text(const char* text, int current) {
    return MmcIdFromText(text, static_cast<uint8_t>(current));
}

// outputs and inputs: port names, one a line. The index of the input that pairs with output
// (a position among the outputs), or -1.
EMSCRIPTEN_KEEPALIVE int tavi_match_input(const char* outputs, int outputCount, int output,
                                          const char* inputs, int inputCount) {
    if (output < 0 || output >= outputCount) {
        return -1;
    }
    return MatchInput(SplitNames(outputs, outputCount), static_cast<size_t>(output),
                      SplitNames(inputs, inputCount));
}

// The whole run on the embedded image, with its boxes; shell.done() is its last act. Returns
// 0 when the unit reported the update finished, -1 otherwise.
EMSCRIPTEN_KEEPALIVE int tavi_run_update() {
    static const FirmwareImage image = MakeFirmwareImage(tavi_image, tavi_image_size);
    const UpdateIo io{nullptr,  Send,       ReadReply,    ClearReply,  ReadVersion, WaitForReply,
                      LinkOpen, PostStatus, PostProgress, ShowMessage, RequestClose};
    return RunUpdateWorker(io, &image, PostDone);
}

} // extern "C"
