// Choosing the unit's port: the drop-down of IDC_PORT_LIST lists the MIDI outputs; its
// close-up opens the chosen output and the input that belongs to it.
#include "ui/main_window.h"

#include "midi/port_link.h"
#include "protocol/messages.h"
#include "ui/ids.h"
#include "ui/settings_controls.h"

namespace {

const char kNoOutputs[] = "No MIDI outputs available";
const char kOutputBusy[] =
    "Selected MIDI output not available.\nPort is probably used by an other application.";
const char kInputBusy[] =
    "Selected MIDI input not available.\nPort is probably used by an other application.";

void SendOpeningQueries() {
    for (MessageId id : OpeningQueries) {
        SendSysEx(MessageTable[id].bytes, MessageTable[id].length);
        Sleep(SETTINGS_PAUSE_MS);
    }
}

} // namespace

void OnPortListDropDown(HWND dialog) {
    // While the list is open nothing may empty it under the user's eyes.
    StopStatusTimer(dialog);
    ForgetUnit();
    HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
    if (FillPortList(list) != 0) {
        ShowBox(dialog, kNoOutputs, "Warning");
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNoOutputs));
    }
}

void OnPortListCloseUp(HWND dialog) {
    // The ports were closed when the list opened; whatever the unit said before is forgotten.
    ForgetUnit();

    // The list was refilled when it opened, so only an entry picked in this drop-down counts.
    const LRESULT selected = SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR) {
        StartStatusTimer(dialog);
        return;
    }
    const unsigned output = static_cast<unsigned>(selected);
    const int input = FindInputForOutput(output);
    if (input < 0) {
        // Not a unit we can talk to: the next tick says "tavi not found".
        StartStatusTimer(dialog);
        return;
    }
    if (OpenOutputPort(output) != 0) {
        // Ticks go on behind the box, so the window shows the unit as absent meanwhile.
        StartStatusTimer(dialog);
        ShowBox(dialog, kOutputBusy, "Warning");
        return;
    }
    if (OpenInputPort(static_cast<unsigned>(input)) != 0) {
        CloseOutputPort();
        StartStatusTimer(dialog);
        ShowBox(dialog, kInputBusy, "Warning");
        return;
    }
    SendOpeningQueries();
    StartStatusTimer(dialog);
}
