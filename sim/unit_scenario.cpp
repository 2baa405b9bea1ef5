// The scenario text: how the simulated unit is told how to be.
#include <climits>
#include <cstdlib>

#include "sim/unit_model.h"

namespace {

std::string Trim(const std::string& text) {
    const char* spaces = " \t\r\n";
    const size_t first = text.find_first_not_of(spaces);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(spaces) - first + 1);
}

// A plain decimal number up to max: digits only, no sign, no spaces.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value <= max;
}

bool ParseHexByte(const char* two, uint8_t& value) {
    unsigned result = 0;
    for (int i = 0; i < 2; ++i) {
        const char c = two[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        result = result * 16 + digit;
    }
    value = static_cast<uint8_t>(result);
    return true;
}

// "RECORDxTIMES", e.g. "5x2".
bool ParseRecordTimes(const std::string& text, int& record, unsigned& times) {
    const size_t x = text.find('x');
    unsigned long r = 0;
    unsigned long t = 0;
    if (x == std::string::npos || !ParseNumber(text.substr(0, x), INT_MAX, r) ||
        !ParseNumber(text.substr(x + 1), UINT_MAX, t))
        return false;
    record = static_cast<int>(r);
    times = static_cast<unsigned>(t);
    return true;
}

// Six comma-separated numbers: the four options, the MMC ID, the brightness.
bool ParseSettings(const std::string& text, UnitSettings& settings) {
    const unsigned long maxima[6] = {1, 1, 1, 1, 126, 15};
    unsigned long values[6];
    size_t start = 0;
    for (int i = 0; i < 6; ++i) {
        const size_t comma = text.find(',', start);
        const bool last = i == 5;
        if (last != (comma == std::string::npos))
            return false;
        const std::string part = text.substr(start, last ? std::string::npos : comma - start);
        if (!ParseNumber(part, maxima[i], values[i]))
            return false;
        start = comma + 1;
    }
    for (int i = 0; i < 4; ++i)
        settings.options[i] = static_cast<uint8_t>(values[i]);
    settings.mmcId = static_cast<uint8_t>(values[4]);
    settings.brightness = static_cast<uint8_t>(values[5]);
    return true;
}

bool ParseFlag(const std::string& text, bool& flag) {
    if (text != "0" && text != "1")
        return false;
    flag = text == "1";
    return true;
}

// One "key=value" knob. Empty string when understood, else what went wrong.
std::string ApplyKnob(const std::string& key, const std::string& value, UnitScenario& s) {
    unsigned long number = 0;
    const unsigned long kMaxMs = 86400000; // a day: longer than any test or run
    unsigned* const ms = key == "delay"    ? &s.replyDelayMs
                         : key == "erase"  ? &s.eraseMs
                         : key == "finish" ? &s.finishMs
                                           : nullptr;
    if (ms != nullptr || key == "unplug_after") {
        if (!ParseNumber(value, kMaxMs, number))
            return key + "=MS wants milliseconds, 0.." + std::to_string(kMaxMs);
        if (ms != nullptr)
            *ms = static_cast<unsigned>(number);
        else
            s.unplugAfterMs = static_cast<long>(number);
    } else if (key == "odd" || key == "reject" || key == "silent" || key == "late") {
        int& record = key == "odd"      ? s.oddRecord
                      : key == "reject" ? s.rejectRecord
                      : key == "silent" ? s.silentRecord
                                        : s.lateRecord;
        unsigned& times = key == "odd"      ? s.oddTimes
                          : key == "reject" ? s.rejectTimes
                          : key == "silent" ? s.silentTimes
                                            : s.lateMs;
        if (!ParseRecordTimes(value, record, times))
            return key + "=RECORDx" + (key == "late" ? "MS" : "TIMES") +
                   " wants two numbers, e.g. " + key + "=5x2";
    } else if (key == "unplug_erase") {
        if (!ParseFlag(value, s.unplugDuringErase))
            return "unplug_erase wants 0 or 1";
    } else if (key == "running_from_status") {
        if (!ParseNumber(value, INT_MAX, number))
            return "running_from_status=N wants a status request number from 0";
        s.runningFromStatus = static_cast<int>(number);
    } else if (key == "version") {
        uint8_t major = 0;
        uint8_t minor = 0;
        if (value.size() != 4 || !ParseHexByte(value.c_str(), major) ||
            !ParseHexByte(value.c_str() + 2, minor) || major >= 0x80 || minor >= 0x80)
            return "version=HHHH wants two hex bytes below 80, e.g. version=3231 or 7F7F";
        s.version[0] = major;
        s.version[1] = minor;
    } else if (key == "settings") {
        if (!ParseSettings(value, s.initialSettings))
            return "settings=B,F,L,W,ID,LV wants four 0/1 options, an MMC ID 0..126 and a "
                   "brightness 0..15";
    } else {
        return "unknown key '" + key + "'";
    }
    return std::string();
}

bool ApplyBase(const std::string& base, UnitScenario& s) {
    if (base == "normal")
        return true;
    if (base == "update") {
        s.updateMode = true;
        return true;
    }
    if (base == "old") {
        s.version[0] = '2';
        s.version[1] = '0';
        s.answersSettings = false;
        return true;
    }
    return false;
}

} // namespace

int ParseScenario(const std::string& text, UnitScenario& scenario, std::string& error) {
    UnitScenario parsed;
    error.clear();
    size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string token = Trim(text.substr(start, end - start));
        start = end + 1;
        if (token.empty())
            continue;
        const bool wasFirst = first;
        first = false;
        const size_t equals = token.find('=');
        std::string problem;
        if (equals == std::string::npos) {
            if (!wasFirst)
                problem = "'" + token + "' is a base or a key without a value; a base " +
                          "(normal, update, old) comes first";
            else if (!ApplyBase(token, parsed))
                problem = "unknown base '" + token + "' (normal, update or old)";
        } else {
            problem =
                ApplyKnob(Trim(token.substr(0, equals)), Trim(token.substr(equals + 1)), parsed);
        }
        if (!problem.empty()) {
            error = "scenario \"" + text + "\": " + problem;
            scenario = UnitScenario();
            return -1;
        }
    }
    scenario = parsed;
    return 0;
}
