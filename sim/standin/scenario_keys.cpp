// The port keys of a scenario (listed in sim_control.h); everything else is the unit model's.
#include "sim/standin/standin.h"

#include <cstdlib>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
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

std::vector<std::string> Names(const std::string& value) {
    if (value.empty())
        return {};
    return Split(value, '|');
}

// A whole decimal number, optionally negative; false for anything else.
bool Number(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9)
        return false;
    char* end = nullptr;
    value = strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

int DefaultUnitPort(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].compare(0, 4, "tavi") == 0)
            return static_cast<int>(i);
    return -1;
}

} // namespace

int ParsePortSetup(const std::string& text, PortSetup& ports, std::string& modelText,
                   std::string& error) {
    std::vector<std::string> parts = Split(text, ';');
    for (auto& part : parts)
        part = Trimmed(part);
    std::string base = "normal";
    size_t first = 0;
    if (!parts.empty() && parts[0].find('=') == std::string::npos) {
        if (!parts[0].empty())
            base = parts[0];
        first = 1;
    }
    modelText = base;
    bool unitOutGiven = false;
    bool unitInGiven = false;
    bool noPorts = false;
    bool outputsGiven = false;
    bool inputsGiven = false;
    bool oldBuild = false;
    bool codeGiven = false;
    bool blockGiven = false;
    bool keepGiven = false;
    for (size_t i = first; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part.empty())
            continue;
        size_t equals = part.find('=');
        if (equals == std::string::npos) {
            error = "no value in '" + part + "'";
            return -1;
        }
        std::string key = Trimmed(part.substr(0, equals));
        std::string value = Trimmed(part.substr(equals + 1));
        long n = 0;
        bool numeric = Number(value, n);
        if (key == "outputs" || key == "inputs") {
            (key == "outputs" ? ports.outputs : ports.inputs) = Names(value);
            (key == "outputs" ? outputsGiven : inputsGiven) = true;
            continue;
        }
        if (key == "stack" || key == "names") {
            const char* other = key == "stack" ? "wms" : "new";
            if (value != other && value != (key == "stack" ? "classic" : "legacy")) {
                error = "unknown " + key + " '" + value + "'";
                return -1;
            }
            (key == "stack" ? ports.wms : ports.newNames) = value == other;
            continue;
        }
        if (key == "second") {
            ports.secondBase = value;
            continue;
        }
        // Every other port key takes a number.
        int* index = key == "unit_out"        ? &ports.unitOut
                     : key == "unit_in"       ? &ports.unitIn
                     : key == "busy_out"      ? &ports.busyOut
                     : key == "busy_in"       ? &ports.busyIn
                     : key == "caps_fail_out" ? &ports.capsFailOut
                     : key == "caps_fail_in"  ? &ports.capsFailIn
                                              : nullptr;
        bool portKey = index || key == "no_ports" || key == "async_done" ||
                       key == "refuse_release" || key == "refuse_release_at" ||
                       key == "unplug_code" || key == "keep_ports" || key == "units" ||
                       key == "block_after_unplug" || key == "old_build" || key == "replug_after";
        if (!portKey) {
            modelText += ";" + part; // the unit model's knob
            continue;
        }
        if (!numeric || n < (index ? -1 : 0) || n > 600000) {
            error = "bad number in '" + part + "'";
            return -1;
        }
        if (index)
            *index = static_cast<int>(n);
        if (key == "unit_out")
            unitOutGiven = true;
        else if (key == "unit_in")
            unitInGiven = true;
        else if (key == "no_ports")
            noPorts = n != 0;
        else if (key == "async_done")
            ports.asyncDoneMs = static_cast<unsigned>(n);
        else if (key == "refuse_release")
            ports.refuseRelease = static_cast<unsigned>(n);
        else if (key == "refuse_release_at")
            ports.refuseReleaseAt = static_cast<unsigned>(n);
        else if (key == "keep_ports") {
            ports.keepPorts = n != 0;
            keepGiven = true;
        } else if (key == "block_after_unplug") {
            ports.blockAfterUnplugMs = static_cast<unsigned>(n);
            blockGiven = true;
        } else if (key == "replug_after")
            ports.replugAfterMs = static_cast<unsigned>(n);
        else if (key == "old_build")
            oldBuild = n != 0;
        else if (key == "units") {
            if (n < 1 || n > MAX_UNITS) {
                error = "units must be 1 or 2";
                return -1;
            }
            ports.units = static_cast<int>(n);
        } else if (key == "unplug_code") {
            if (n != MMSYSERR_ERROR && n != MMSYSERR_NODRIVER && n != MMSYSERR_INVALHANDLE) {
                error = "unplug_code must be 1, 5 or 6";
                return -1;
            }
            ports.goneCode = static_cast<MMRESULT>(n);
            codeGiven = true;
        }
    }
    // The newer layer's builds before its fixes: 1 from a gone unit's handles, sends that
    // block about 5 s first, and the unit's ports listed until the program restarts.
    if (oldBuild) {
        ports.goneCode = codeGiven ? ports.goneCode : MMSYSERR_ERROR;
        ports.blockAfterUnplugMs = blockGiven ? ports.blockAfterUnplugMs : 5000;
        ports.keepPorts = keepGiven ? ports.keepPorts : true;
    }
    if (ports.newNames) {
        if (!outputsGiven)
            ports.outputs = {"Other", "tavi Out"};
        if (!inputsGiven)
            ports.inputs = {"Other", "tavi In"};
    }
    if (noPorts) {
        ports.outputs.clear();
        ports.inputs.clear();
    }
    for (const auto* list : {&ports.outputs, &ports.inputs})
        for (const auto& name : *list)
            if (name.size() >= MAXPNAMELEN) {
                error = "port name longer than 31 characters: " + name;
                return -1;
            }
    if (!unitOutGiven)
        ports.unitOut = DefaultUnitPort(ports.outputs);
    if (!unitInGiven)
        ports.unitIn = DefaultUnitPort(ports.inputs);
    if (ports.unitOut >= static_cast<int>(ports.outputs.size()))
        ports.unitOut = -1;
    if (ports.unitIn >= static_cast<int>(ports.inputs.size()))
        ports.unitIn = -1;
    // Windows tells a second identical device by a number in its names.
    if (ports.units == 2) {
        ports.secondOut = static_cast<int>(ports.outputs.size());
        ports.secondIn = static_cast<int>(ports.inputs.size());
        ports.outputs.push_back(ports.newNames ? "tavi (2) Out" : "2- tavi");
        ports.inputs.push_back(ports.newNames ? "tavi (2) In" : "2- tavi MIDI In");
    }
    return 0;
}
