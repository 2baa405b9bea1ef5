// The port keys of a scenario (listed in sim_control.h); everything else is the unit model's.
#include "sim/standin/standin.h"

#include <cstdlib>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int DefaultUnitPort(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].compare(0, 4, "tavi") == 0)
            return static_cast<int>(i);
    return -1;
}

// The keys that take a word, each with its two words: the first is the default (false).
const char* const kWords[][3] = {{"stack", "classic", "wms"}, {"names", "legacy", "new"}};

} // namespace

int ParsePortSetup(const std::string& text, PortSetup& ports, std::string& modelText,
                   std::string& error) {
    std::vector<std::string> parts = Split(text, ';');
    for (auto& part : parts)
        part = Trimmed(part);
    size_t first = 0;
    modelText = "normal";
    if (!parts.empty() && parts[0].find('=') == std::string::npos) {
        modelText = parts[0].empty() ? modelText : parts[0];
        first = 1;
    }
    bool given[2] = {false, false}; // outputs, inputs
    for (size_t i = first; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        const size_t equals = part.find('=');
        if (part.empty())
            continue;
        if (equals == std::string::npos) {
            error = "no value in '" + part + "'";
            return -1;
        }
        const std::string key = Trimmed(part.substr(0, equals));
        const std::string value = Trimmed(part.substr(equals + 1));
        if (key == "outputs" || key == "inputs") {
            const bool in = key == "inputs";
            (in ? ports.inputs : ports.outputs) =
                value.empty() ? std::vector<std::string>{} : Split(value, '|');
            given[in] = true;
            continue;
        }
        if (key == "second") {
            ports.secondBase = value;
            continue;
        }
        bool* word = key == "stack" ? &ports.wms : key == "names" ? &ports.newNames : nullptr;
        if (word) {
            const auto& words = kWords[key == "names"];
            if (value != words[1] && value != words[2]) {
                error = "unknown " + key + " '" + value + "'";
                return -1;
            }
            *word = value == words[2];
            continue;
        }
        // Every other port key takes a number.
        int* index = key == "busy_out"        ? &ports.busyOut
                     : key == "busy_in"       ? &ports.busyIn
                     : key == "caps_fail_out" ? &ports.capsFailOut
                     : key == "caps_fail_in"  ? &ports.capsFailIn
                                              : nullptr;
        unsigned* amount = key == "async_done"       ? &ports.asyncDoneMs
                           : key == "refuse_release" ? &ports.refuseRelease
                           : key == "replug_after"   ? &ports.replugAfterMs
                                                     : nullptr;
        bool* flag = key == "old_build"    ? &ports.oldBuild
                     : key == "numbered"   ? &ports.numbered
                     : key == "interfaces" ? &ports.interfaces
                     : key == "restart"    ? &ports.restart
                                           : nullptr;
        const bool other = key == "units" || key == "unplug_code";
        if (!index && !amount && !flag && !other) {
            modelText += ";" + part; // the unit model's knob
            continue;
        }
        char* end = nullptr;
        const long n = strtol(value.c_str(), &end, 10);
        if (value.empty() || value.size() > 9 || *end || n < (index ? -1 : 0) || n > 600000) {
            error = "bad number in '" + part + "'";
            return -1;
        }
        if (index) {
            *index = static_cast<int>(n);
        } else if (amount) {
            *amount = static_cast<unsigned>(n);
        } else if (flag) {
            *flag = n != 0;
        } else if (key == "units" && (n < 1 || n > MAX_UNITS)) {
            error = "units must be 1 or 2";
            return -1;
        } else if (key == "units") {
            ports.units = static_cast<int>(n);
        } else if (n != MMSYSERR_ERROR && n != MMSYSERR_NODRIVER && n != MMSYSERR_INVALHANDLE) {
            error = "unplug_code must be 1, 5 or 6";
            return -1;
        } else {
            ports.goneCode = static_cast<MMRESULT>(n);
        }
    }
    // The service's default names are the older WinMM-style ones, the same in both directions.
    if (ports.newNames || ports.wms) {
        if (!given[0])
            ports.outputs = {"Other", ports.newNames ? "tavi Out" : "tavi"};
        if (!given[1])
            ports.inputs = {"Other", ports.newNames ? "tavi In" : "tavi"};
    }
    for (const auto* list : {&ports.outputs, &ports.inputs})
        for (const auto& name : *list)
            if (name.size() >= MAXPNAMELEN) {
                error = "port name longer than 31 characters: " + name;
                return -1;
            }
    ports.unitOut = DefaultUnitPort(ports.outputs);
    ports.unitIn = DefaultUnitPort(ports.inputs);
    // A second identical unit: the classic stack numbers it "2- tavi", the service "2 - tavi"
    // (builds before March 2026: the same names as the first).
    if (ports.units == 2 && ports.unitOut >= 0 && ports.unitIn >= 0) {
        const std::string mark = !ports.numbered ? "" : ports.wms ? "2 - " : "2- ";
        ports.secondOut = static_cast<int>(ports.outputs.size());
        ports.secondIn = static_cast<int>(ports.inputs.size());
        ports.outputs.push_back(mark + ports.outputs[static_cast<size_t>(ports.unitOut)]);
        ports.inputs.push_back(mark + ports.inputs[static_cast<size_t>(ports.unitIn)]);
    }
    return 0;
}
