// The image's header check and walk on hand-made images; the update sequence in virtual time
// against the simulated unit, whose answers reach the real reply parser when due; and that
// unit's own answers and faults.
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <numeric>
#include <string>
#include <vector>
#include "firmware/update_sequence.h"
#include "protocol/reply_parser.h"
#include "sim/unit_model.h"

// The update's outside world in virtual time: the unit model answers each message, and its
// answers reach the real reply parser when they are due.
struct Bench {
    UnitModel unit;
    DeviceState device;
    uint64_t nowMs = 0;
    std::multimap<uint64_t, std::vector<uint8_t>> pending; // by due time
    std::vector<uint8_t> sent;                             // every message, one after another
    std::vector<int> progress;
    std::string log; // statuses by their text, boxes as text/caption, "close", "done"

    static Bench& Of(void* c) { return *static_cast<Bench*>(c); }
    static void Log(void* c, std::string s) { Of(c).log += (Of(c).log.empty() ? "" : ", ") + s; }
    static uint8_t Code(void* c) { return LoadReplyCode(Of(c).device); }
    static void Deliver(Bench& b) {
        for (auto r = b.pending.begin(); r != b.pending.end() && r->first <= b.nowMs;) {
            ReplyParser(b.device, r->second.data(), r->second.size());
            r = b.pending.erase(r);
        }
    }
    static void Send(void* c, const uint8_t* bytes, size_t length) {
        Bench& b = Of(c);
        b.sent.insert(b.sent.end(), bytes, bytes + length);
        std::vector<UnitOutput> out;
        UnitReceive(b.unit, b.nowMs, bytes, length, out);
        for (const UnitOutput& o : out) {
            b.pending.emplace(o.dueMs, o.bytes);
        }
        Deliver(b);
    }
    // Wakes at each answer due within the pause, and stays awake only for an awaited one.
    static void Wait(void* c, unsigned ms, uint8_t awaited, uint8_t alternative) {
        Bench& b = Of(c);
        const uint64_t end = b.nowMs + ms;
        for (auto next = b.pending.begin(); next != b.pending.end() && next->first < end;
             next = b.pending.begin()) {
            b.nowMs = next->first;
            Deliver(b);
            const uint8_t code = Code(c);
            if (code != 0 && (awaited == 0 || code == awaited || code == alternative)) {
                return;
            }
        }
        b.nowMs = end;
        Deliver(b);
    }
    static void Clear(void* c) { ClearReplyCode(Of(c).device); }
    static void Version(void* c, uint8_t v[2]) { std::copy_n(Of(c).device.FirmwareVersion, 2, v); }
    static bool Linked(void* c) { return !UnitUnplugged(Of(c).unit, Of(c).nowMs); }
    static void Status(void* c, int s) { Log(c, UpdateStatusText(s) ? UpdateStatusText(s) : "?"); }
    static void Progress(void* c, uint16_t percent) { Of(c).progress.push_back(percent); }
    static void Box(void* c, const char* t, const char* cap) { Log(c, t + std::string("/") + cap); }
    static void Close(void* c) { Log(c, "close"); }
    static void Done(void* c) { Log(c, "done"); }
};

// Plugs the unit in as the scenario says; false (unit untouched) when it is refused, which
// must leave the defaults.
bool PlugIn(UnitModel& unit, const std::string& scenario) {
    UnitScenario parsed;
    parsed.eraseMs = 7;
    std::string error;
    const bool taken = ParseScenario(scenario, parsed, error) == 0;
    EXPECT_TRUE(taken || (!error.empty() && parsed.eraseMs == 0)) << scenario;
    (void)(taken && (UnitPlugIn(unit, parsed, 0), true));
    return taken;
}

using Bytes = std::vector<uint8_t>;
// A data record as the boot loader takes it (layout in sim/unit_model.h), F0 through F7.
std::string Record(unsigned address, const std::string& data) {
    std::string record =
        "\xF0\x2C\x4D\x30" + std::string{char(address >> 14), char(address >> 7 & 0x7F),
                                         char(address & 0x7F), char(data.size())};
    record += data;
    const int sum = std::accumulate(record.begin() + 4, record.end(), 0);
    return record + char((128 - sum % 128) % 128) + "\xF7";
}
// Bytes 5..23 are never examined, so anything but 0xFF (which would end the image) goes there.
const std::string kHeader = "tavi " + std::string("99\0\x7F\xF0\xF7\x80xxxxxxxxxxxx", 19) +
                            "(c)Quenbrook Signalwerkstatt KG\r";

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
        {h + a + "\r" + cut + end + "\xF7", "56:7 stop 64"},       // a record without F7 ends it
        {h + a + "\r" + b, "56:7 64:8 stop 72"},                   // no 0xFF: the resource ends it
        {h + a + "\r" + cut, "56:7 stop 64"},
        {h + "\xF0\x2C\xF0\x2C\x4D\x30\xF7" + end, "56:7 stop 63"}, // a second F0 is carried
        {"tavi 21-" + end + h.substr(9) + a, "stop 55"},            // 0xFF inside the header
    };
    // The header check's failure, or each record as offset:length and where the walk stopped,
    // walked the way the update does: the cursor moves past a record once it is accepted.
    for (const auto& [text, walked] : cases) {
        const Bytes bytes(text.begin(), text.end()); // exactly sized: ASan sees a read past it
        const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
        ImageCursor cursor = image.start;
        const bool bad = CheckImageHeader(image, cursor) != 0;
        std::string walk;
        for (SysExMessage r{}; !bad && NextRecord(image, cursor, r) == 1; cursor += r.length) {
            walk += std::to_string(r.bytes - image.start) + ":" + std::to_string(r.length) + " ";
        }
        walk += "stop " + std::to_string(cursor - image.start);
        EXPECT_EQ(bad ? "bad header" : walk, walked) << testing::PrintToString(bytes);
    }
}

constexpr int kNoImage = -1, kDamaged = -2; // in place of a record count

const std::string kSucceeded = "Preparing, Erasing, Writing, Programming successful, done";
std::string Failed(const std::string& head) {
    return head + ", Programming failed/Warning, close, done";
}

// Unfaulted, the unit answers at once, so the time a run ends is what its faults cost. Record
// faults hit every record from the one named on, so each run shows the counters start again
// after an acceptance.
TEST(UpdateWaits, EndAsTheUnitAnswersWithinTheirLimits) {
    const std::string timeout = Failed("Preparing, Erasing, Writing, Timeout error");
    const std::string corrupted = Failed("Preparing, Data file corrupted/Error");
    const std::string eraseTimeout = Failed("Preparing, Erasing, Timeout error");
    const struct {
        const char* name;
        const char* scenario;
        std::string log;
        size_t sends;
        uint64_t endMs;
        int records = 4;
        const char* version = "21"; // what the image writes
    } cases[] = {
        // clang-format off
        {"no image", "update", corrupted, 0, 0, kNoImage},
        {"damaged header", "update", corrupted, 0, 0, kDamaged},
        {"image without records: straight to the check, which finds nothing written", "update",
         Failed("Preparing, Erasing, Writing, Invalid firmware"), 3, 0, 0},
        {"check: a 7F major alone", "update", kSucceeded, 8, 0, 4, "\x7F" "1"},
        {"check: a 7F minor alone", "update", kSucceeded, 8, 0, 4, "2\x7F"},
        {"records: rejected thrice", "update;reject=1x3",
         Failed("Preparing, Erasing, Writing, Checksum error"), 6, 0},
        {"records: silent thrice", "update;silent=1x3", timeout, 6, 1503},
        // The acceptance also clears the time-out just counted, or the third record would fail.
        {"records: each answered in its last pause", "update;late=0x501", kSucceeded, 8, 2004},
        {"records: an answer in the third time-out's last pause", "update;silent=0x2;late=0x501",
         timeout, 5, 1503},
        // Odd answers get the record sent again without using up its time-outs or rejections,
        // but odd answers forever must not hold the worker forever: the 17th fails. Rejections
        // and silences are counted apart, and all three start again with each record.
        {"records: sixteen odd answers each, then two rejections and two silences",
         "update;odd=0x16;reject=0x2;silent=0x2", kSucceeded, 88, 4008},
        {"records: seventeen odd answers", "update;odd=0x17", timeout, 19, 0},
        {"handshake: running", "normal", Failed("Preparing, tavi not in update mode/Error"), 1, 0},
        {"handshake: at the ninth look, every answer 400 ms late", "update;delay=400", kSucceeded,
         8, 3200},
        {"handshake: in the ninth pause", "update;delay=420", kSucceeded, 8, 3360},
        {"handshake: too late", "update;delay=451", Failed("Preparing, Timeout error"), 1, 450},
        {"erase: slow", "update;erase=20000", kSucceeded, 8, 20000},
        {"erase: silent", "update;erase=100000", eraseTimeout, 2, 90000},
        {"erase: the unit lost", "update;erase=2000;unplug_erase=1", eraseTimeout, 2, 1000},
        {"check: running is no answer, the unit should still be in its boot loader",
         "update;running_from_status=1", timeout, 7, 450},
        {"finish: too late", "update;finish=451", timeout, 8, 450},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The header, then records of 14 data bytes (24 bytes) each followed by 0x0D, then the
        // terminator. The first record's first two bytes are the version the unit reports once
        // they are written.
        std::string text = kHeader;
        for (int i = 0; i < c.records; ++i) {
            text += Record(i * 14, i ? std::string(14, char(i)) : c.version + std::string(12, 'x'));
            text += "\r";
        }
        text[4] = c.records == kDamaged ? '_' : ' ';
        text += "\xFF";
        const Bytes bytes(text.begin(), text.end());
        Bench bench;
        EXPECT_TRUE(PlugIn(bench.unit, c.scenario));
        using B = Bench;
        const UpdateIo io = {&bench,    B::Send,   B::Code,     B::Clear, B::Version, B::Wait,
                             B::Linked, B::Status, B::Progress, B::Box,   B::Close};
        const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
        EXPECT_EQ(RunUpdateWorker(io, c.records == kNoImage ? nullptr : &image, B::Done),
                  c.log == kSucceeded ? 0 : -1);
        EXPECT_EQ(bench.log, c.log);
        EXPECT_EQ(size_t(std::count(bench.sent.begin(), bench.sent.end(), 0xF7)), c.sends);
        EXPECT_EQ(bench.nowMs, c.endMs);
        if (c.log == kSucceeded) { // a progress value after every sending of a record, the
            // last never quite 100, since the image ends at the terminator
            EXPECT_EQ(bench.progress.size(), c.sends - 4);
            EXPECT_EQ(bench.progress.empty() ? -1 : bench.progress.back(), 99);
        }
    }
}

TEST(UnitModel, AnswersEachMessageAsItsScenarioSays) {
    const std::string good = Record(0, "21"), next = Record(2, "xyz");
    const std::string bad = next.substr(0, 11) + "\x01\xF7"; // its checksum wrong
    const struct {
        const char* scenario;
        std::vector<std::string> messages;
        const char* answers;
    } rows[] = {
        // clang-format off
        // The running firmware: a set stores what the setting can take; every one is answered
        // with the value held; 7F asks. Other heads and lengths go unanswered.
        {"normal", {"\x10", "\x52\x7F", "\x52\x01", "\x52\x02", "\x53\x7E", "\x53\x7F",
                    "\x56\x10", "\x56\x0F", std::string("\x10\0", 2), "\xF0\x41\x10\x52\x01\xF7",
                    "\x12", "\x50"},
         " 21 32 31, 62 00, 62 01, 62 01, 63 7E, 63 7E, 66 08, 66 0F"},
        // The boot loader: records only after an erase, in order and intact; Status reports what
        // was written; Finish starts it.
        {"update;version=3337", {"\x10", "\x52\x7F", good, "\x12", "\x10", good, "\x10", good, bad,
                                 next, "\x50", "\x10", "\x52\x7F"},
         " 20 33 37, 4E, 22, 20 7F 7F, 40, 20 32 31, 4E, 4E, 40, 60, 21 32 31, 62 00"},
        {"update;delay=5;erase=100", {"\x12", "@50 \x10", "@100 \x10"}, " 22@105, 20 7F 7F@105"},
        // Gone: nothing more is answered, nor what would be due after.
        {"normal;delay=5;unplug_after=10", {"\x10", "@6 \x10", "@10 \x10"}, " 21 32 31@5"},
        // What it does not take: the defaults stay.
        {"update;bogus=1", {}, "refused"}, {"normal;update", {}, "refused"}, {"fast", {}, "refused"},
        {"update;reject=1", {}, "refused"}, {"update;version=8080", {}, "refused"},
        {"settings=1,0,1,0,127,8", {}, "refused"},
        // clang-format on
    };
    // Each message goes to the unit: the bytes between F0 2C 4D and F7, or a whole one (from
    // F0), at 0 or at the time of a leading "@MS ". The answers in hex without their head and
    // end, "@due" when not at once, or "refused" for a scenario the model does not take.
    for (const auto& row : rows) {
        UnitModel unit;
        std::string answers = PlugIn(unit, row.scenario) ? "" : "refused";
        for (std::string message : row.messages) {
            const uint64_t at = message[0] == '@' ? std::stoul(message.substr(1)) : 0;
            message.erase(0, message[0] == '@' ? message.find(' ') + 1 : 0);
            message = message[0] == '\xF0' ? message : "\xF0\x2C\x4D" + message + "\xF7";
            std::vector<UnitOutput> out;
            UnitReceive(unit, at, reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                        out);
            for (const UnitOutput& o : out) {
                char hex[4];
                answers += answers.empty() ? "" : ",";
                for (size_t i = 3; i + 1 < o.bytes.size(); ++i) {
                    snprintf(hex, sizeof hex, " %02X", o.bytes[i]);
                    answers += hex;
                }
                answers += o.dueMs != at ? "@" + std::to_string(o.dueMs) : "";
            }
        }
        EXPECT_EQ(answers, row.answers) << row.scenario;
    }
}
