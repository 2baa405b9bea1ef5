// The image's header check and walk on hand-made images; the update sequence in virtual time
// against a scripted unit, whose answers reach the real reply parser when due.
#include <gtest/gtest.h>
#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>
#include "firmware/update_sequence.h"
#include "protocol/reply_parser.h"

struct Answer {
    uint8_t code; // 0: silence
    unsigned delayMs = 0;
    uint8_t major = '2', minor = '1'; // for 0x20 and 0x21
};
using Answers = std::vector<Answer>;

struct VirtualUnit {
    // Answers by request byte, one per receipt (for records: per sending, whichever record);
    // past the end of its list a request gets its normal answer after delayMs.
    std::map<uint8_t, Answers> script;
    unsigned delayMs = 0;
    uint64_t goneUs = UINT64_MAX; // when the link drops
    uint64_t tickUs = 0;          // a pause ends on a scheduler tick; 0: when its time is up
    bool earlyWake = true;        // an awaited reply ends a pause
    uint64_t nowUs = 0;
    DeviceState device;
    std::map<uint8_t, size_t> seen;
    std::multimap<uint64_t, std::vector<uint8_t>> pending; // by due time
    std::vector<uint8_t> sent;                             // every message, one after another
    std::vector<int> progress;
    std::string log; // statuses by their text, boxes as text/caption, "close", "done"

    static VirtualUnit& Of(void* c) { return *static_cast<VirtualUnit*>(c); }
    static void Log(void* c, std::string s) { Of(c).log += (Of(c).log.empty() ? "" : ", ") + s; }
    static uint8_t Code(void* c) { return LoadReplyCode(Of(c).device); }
    static void Deliver(VirtualUnit& u) {
        for (auto r = u.pending.begin(); r != u.pending.end() && r->first <= u.nowUs;) {
            ReplyParser(u.device, r->second.data(), r->second.size());
            r = u.pending.erase(r);
        }
    }
    static void Send(void* c, const uint8_t* bytes, size_t length) {
        VirtualUnit& u = Of(c);
        u.sent.insert(u.sent.end(), bytes, bytes + length);
        const uint8_t request = length > 4 ? bytes[3] : 0;
        const Answers& script = u.script[request];
        const size_t n = u.seen[request]++; // the normal answer's code is the request's plus 0x10
        const Answer a = n < script.size() ? script[n] : Answer{uint8_t(request + 0x10), u.delayMs};
        std::vector<uint8_t> reply = {0xF0, 0x2C, 0x4D, a.code, a.major, a.minor, 0xF7};
        reply.erase(reply.begin() + 4, reply.begin() + (a.code == 0x20 || a.code == 0x21 ? 4 : 6));
        if (a.code != 0) {
            u.pending.emplace(u.nowUs + a.delayMs * 1000ull, reply);
        }
        Deliver(u);
    }
    // Wakes at each answer due within the pause, and stays awake only for an awaited one.
    static void Wait(void* c, unsigned ms, uint8_t awaited, uint8_t alternative) {
        VirtualUnit& u = Of(c);
        const uint64_t tick = u.tickUs ? u.tickUs : 1;
        const uint64_t end = (u.nowUs + ms * 1000ull + tick - 1) / tick * tick;
        for (auto next = u.pending.begin();
             u.earlyWake && next != u.pending.end() && next->first < end;
             next = u.pending.begin()) {
            u.nowUs = next->first;
            Deliver(u);
            const uint8_t code = Code(c);
            if (code != 0 && (awaited == 0 || code == awaited || code == alternative)) {
                return;
            }
        }
        u.nowUs = end;
        Deliver(u);
    }
    static void Clear(void* c) { ClearReplyCode(Of(c).device); }
    static void Version(void* c, uint8_t v[2]) { std::copy_n(Of(c).device.FirmwareVersion, 2, v); }
    static bool Linked(void* c) { return Of(c).nowUs < Of(c).goneUs; }
    static void Status(void* c, int s) { Log(c, UpdateStatusText(s) ? UpdateStatusText(s) : "?"); }
    static void Progress(void* c, uint16_t percent) { Of(c).progress.push_back(percent); }
    static void Box(void* c, const char* t, const char* cap) { Log(c, t + std::string("/") + cap); }
    static void Close(void* c) { Log(c, "close"); }
    static void Done(void* c) { Log(c, "done"); }
};

int RunVirtualWorker(VirtualUnit& u, const FirmwareImage* image) {
    using U = VirtualUnit;
    const UpdateIo io = {&u,        U::Send,   U::Code,     U::Clear, U::Version, U::Wait,
                         U::Linked, U::Status, U::Progress, U::Box,   U::Close};
    return RunUpdateWorker(io, image, U::Done);
}

using Bytes = std::vector<uint8_t>;
// Bytes 5..23 are never examined, so anything but 0xFF (which would end the image) goes there.
const std::string kHeader = "tavi " + std::string("99\0\x7F\xF0\xF7\x80xxxxxxxxxxxx", 19) +
                            "(c)Quenbrook Signalwerkstatt KG\r";

// The header check's failure, or each record as offset:length and where the walk stopped,
// walked the way the update does: the cursor moves past a record once it is accepted.
std::string Walk(const std::string& text) {
    const Bytes bytes(text.begin(), text.end()); // exactly sized: ASan sees a read past it
    const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
    ImageCursor cursor = image.start;
    if (CheckImageHeader(image, cursor) != 0) {
        return "bad header";
    }
    std::string walk;
    for (SysExMessage r{}; NextRecord(image, cursor, r) == 1; cursor += r.length) {
        walk += std::to_string(r.bytes - image.start) + ":" + std::to_string(r.length) + " ";
    }
    return walk + "stop " + std::to_string(cursor - image.start);
}

TEST(ImageWalk, ChecksTheHeaderThenFindsEachRecordFromF0ThroughF7) {
    const std::string h = kHeader, a = "\xF0\x2C\x4D\x30\x01\x02\xF7", end = "\xFF";
    const std::string b = "\xF0\x2C\x4D\x30\x03\x04\x05\xF7", cut = "\xF0\x2C\x4D\x30\x01";
    const std::pair<std::string, const char*> cases[] = {
        {h + end, "stop 56"},
        {"tavi_" + h.substr(5) + end, "bad header"},
        {h.substr(0, 24) + "[" + h.substr(25) + end, "bad header"}, // the signature's first byte
        {h.substr(0, 54) + "H\r" + end, "bad header"},              // and its last
        {h.substr(0, 40), "bad header"},                            // the resource ends inside it
        {"", "bad header"},
        {h + a + "\r" + b + "\r" + end, "56:7 64:8 stop 73"},
        {h + a + "\n\x41\x7F\xF7" + b + end, "56:7 67:8 stop 75"}, // junk between records
        {h + a + "\r" + cut + "\r" + end, "56:7 stop 64"},         // a record without F7 ends it
        {h + cut + end + "\xF7", "stop 56"},                       // nor does F7 after the end
        {h + a + "\r" + b, "56:7 64:8 stop 72"},                   // no 0xFF: the resource ends it
        {h + a + "\r" + cut, "56:7 stop 64"},
        {h + "\xF0\x2C\xF0\x2C\x4D\x30\xF7" + end, "56:7 stop 63"}, // a second F0 is carried
        {"tavi 21-" + end + h.substr(9) + a, "stop 55"},            // 0xFF inside the header
    };
    for (const auto& [image, walk] : cases) {
        EXPECT_EQ(Walk(image), walk) << testing::PrintToString(Bytes(image.begin(), image.end()));
    }
}

constexpr uint8_t kStatus = 0x10, kErase = 0x12, kRecord = 0x30, kFinish = 0x50;
constexpr int kNoImage = -1, kDamaged = -2; // in place of a record count

// The header, then records of 10 bytes each followed by 0x0D, then the terminator: 100 bytes
// with four records, so that progress reads as the end of each record.
Bytes ImageOf(int records) {
    std::string image = kHeader;
    for (char i = 0; i < records; ++i) {
        image += std::string("\xF0\x2C\x4D\x30\0\0", 6) + i + "\x01\x11\xF7\r";
    }
    image[4] = records == kDamaged ? '_' : ' ';
    image += "\xFF";
    return Bytes(image.begin(), image.end());
}

const std::string kSucceeded = "Preparing, Erasing, Writing, Programming successful, done";
std::string Failed(const std::string& head) {
    return head + ", Programming failed/Warning, close, done";
}

// Unscripted, the unit answers at once, so the time a run ends is what the script costs. The
// records' scripts show the counters start again after an acceptance.
TEST(UpdateWaits, EndAsTheUnitAnswersWithinTheirLimits) {
    const std::string handshakeTimeout = Failed("Preparing, Timeout error");
    const std::string eraseTimeout = Failed("Preparing, Erasing, Timeout error");
    const std::string timeout = Failed("Preparing, Erasing, Writing, Timeout error");
    const std::string corrupted = Failed("Preparing, Data file corrupted/Error");
    const Answer ok{0x40}, nak{0x4E}, none{0}, late{0x40, 501}, odd{0x60};
    const struct {
        const char* name;
        uint8_t request; // whose answers are scripted
        Answers answers;
        std::string log;
        size_t sends;
        uint64_t endMs;
        int records = 4;
        uint64_t goneMs = UINT64_MAX / 1000;
    } cases[] = {
        // clang-format off
        {"no image", kStatus, {}, corrupted, 0, 0, kNoImage},
        {"damaged header", kStatus, {}, corrupted, 0, 0, kDamaged},
        {"image without records: straight to the check", kStatus, {}, kSucceeded, 4, 0, 0},
        {"records: rejected twice", kRecord, {nak, nak, ok, nak, nak}, kSucceeded, 12, 0},
        {"records: rejected thrice", kRecord, {nak, nak, nak},
         Failed("Preparing, Erasing, Writing, Checksum error"), 5, 0},
        {"records: silent thrice", kRecord, {none, none, none}, timeout, 5, 1503},
        {"records: counted apart, two rejections and two silences let the fifth through", kRecord,
         {nak, none, nak, none, ok, nak, none, nak, none}, kSucceeded, 16, 2004},
        {"records: answer in the last pause", kRecord, {late, ok, late}, kSucceeded, 8, 1002},
        {"records: answer after the last pause", kRecord, {{0x40, 502}}, kSucceeded, 9, 501},
        {"records: an answer in the third time-out's last pause", kRecord, {none, none, late},
         timeout, 5, 1503},
        {"records: rejected in the last pause: a time-out too", kRecord,
         Answers(3, Answer{0x4E, 501}), timeout, 5, 1503},
        {"records: a slow answer is taken when it comes", kRecord, {{0x40, 37}, {0x40, 37}},
         kSucceeded, 8, 74},
        // Nonsense gets the record sent again without using up its time-outs, but nonsense
        // forever must not hold the worker forever: the 17th since an acceptance fails.
        {"records: nonsense three times", kRecord, {odd, odd, odd, ok}, kSucceeded, 11, 0},
        {"records: nonsense sixteen times", kRecord, Answers(16, odd), kSucceeded, 24, 0},
        {"records: nonsense seventeen times", kRecord, Answers(17, odd), timeout, 19, 0},
        {"records: silent, nonsense, silent", kRecord, {none, odd, none}, kSucceeded, 11, 1002},
        {"records: rejected, nonsense, twice each", kRecord,
         {odd, nak, odd, nak, ok, odd, nak, odd, nak}, kSucceeded, 16, 0},
        {"handshake: running", kStatus, {{0x21, 0, '2', '0'}},
         Failed("Preparing, tavi not in update mode/Error"), 1, 0},
        {"handshake: silent", kStatus, {none}, handshakeTimeout, 1, 450},
        // A stray answer wakes the worker but must not cut its pause short.
        {"handshake: only a stray answer", kStatus, {{0x70, 10}}, handshakeTimeout, 1, 450},
        {"handshake: at the last of nine looks 50 ms apart", kStatus, {{0x20, 400}}, kSucceeded, 8,
         400},
        {"handshake: in the ninth pause", kStatus, {{0x20, 401}}, handshakeTimeout, 1, 401},
        {"erase: slow", kErase, {{0x22, 20000}}, kSucceeded, 8, 20000},
        {"erase: silent", kErase, {none}, eraseTimeout, 2, 90000},
        {"erase: link lost", kErase, {none}, eraseTimeout, 2, 1000, 4, 1000},
        {"check: running is no answer, the unit should still be in its boot loader", kStatus,
         {{0x20}, {0x21}}, timeout, 7, 450},
        {"check: 7F 7F", kStatus, {{0x20}, {0x20, 0, 0x7F, 0x7F}},
         Failed("Preparing, Erasing, Writing, Invalid firmware"), 7, 0},
        {"check: a 7F major alone", kStatus, {{0x20}, {0x20, 0, 0x7F, '1'}}, kSucceeded, 8, 0},
        {"check: a 7F minor alone", kStatus, {{0x20}, {0x20, 0, '2', 0x7F}}, kSucceeded, 8, 0},
        {"finish: silent", kFinish, {none}, timeout, 8, 450},
        {"finish: at the last look", kFinish, {{0x60, 400}}, kSucceeded, 8, 400},
        {"finish: too late", kFinish, {{0x60, 401}}, timeout, 8, 401},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualUnit unit;
        unit.script[c.request] = c.answers;
        unit.goneUs = c.goneMs * 1000;
        const Bytes bytes = ImageOf(c.records);
        const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
        EXPECT_EQ(RunVirtualWorker(unit, c.records == kNoImage ? nullptr : &image),
                  c.log == kSucceeded ? 0 : -1);
        EXPECT_EQ(unit.log, c.log);
        EXPECT_EQ(size_t(std::count(unit.sent.begin(), unit.sent.end(), 0xF7)), c.sends);
        EXPECT_EQ(unit.nowUs, c.endMs * 1000);
        if (c.log == kSucceeded) { // a progress value after every sending of a record
            EXPECT_EQ(unit.progress.size(), c.sends - 4);
        }
    }
}

// Each record goes out whole and in image order, and progress reads as the end of each record:
// never quite 100, since the image ends at the terminator.
TEST(UpdateSuccess, SendsEveryRecordInOrderWithItsProgress) {
    VirtualUnit unit;
    const Bytes bytes = ImageOf(4);
    const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
    EXPECT_EQ(RunVirtualWorker(unit, &image), 0);
    Bytes sent = {0xF0, 0x2C, 0x4D, 0x10, 0xF7, 0xF0, 0x2C, 0x4D, 0x12, 0xF7};
    std::remove_copy(bytes.begin() + 56, bytes.end() - 1, std::back_inserter(sent), 0x0D);
    sent.insert(sent.end(), {0xF0, 0x2C, 0x4D, 0x10, 0xF7, 0xF0, 0x2C, 0x4D, 0x50, 0xF7});
    EXPECT_EQ(unit.sent, sent);
    EXPECT_EQ(unit.progress, std::vector<int>({66, 77, 88, 99}));
}
