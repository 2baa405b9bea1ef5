// The one pair of open MIDI ports the program talks to the unit through (WinMM).
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Lists the MIDI outputs into the combo box list, in index order, so a position in the list
// is the output index (an output whose name cannot be read is listed as "MIDI output N",
// counted from 1). 0 when at least one output exists; -1 when there is none (list emptied).
int FillPortList(HWND list);

// Index of the input that pairs with output by MatchInput (midi/port_pairing.h) over the listed
// names and device interfaces, or -1.
int FindInputForOutput(unsigned output);
// False when a port of the open pair is no longer listed (its device interface, or its name
// where it told none, at any index): the unit is gone even if its handles still answer.
// True while no pair is open.
bool PortsStillListed();

// 0; -1 index not below the number of outputs; -2 open failed.
int OpenOutputPort(unsigned output);
// 0; -2 index not below the number of inputs; -4 open failed; -6 preparing a buffer failed;
// -7 queueing a buffer failed; -8 starting failed.
int OpenInputPort(unsigned input);
// Close the port if it is open. A driver that keeps refusing (buffers still in use) is given
// about a second per port; then the port counts as closed all the same.
void CloseOutputPort();
void CloseInputPort();

// Sends one complete SysEx message and returns once the driver is done with it, at most
// about 500 ms later. The bytes must stay valid until then. Safe from any thread: sends are
// serialised. With no output open it returns at once. A send the driver answers as lost
// (unit unplugged), or whose buffer it will not give back, closes both ports.
void SendSysEx(const uint8_t* bytes, size_t length);

// True while both ports are open.
bool PortsOpen();
// The liveness probe: midiInStart on the open input (or on no handle): its MMRESULT.
unsigned ProbeInputPort();
// Whether a call's answer means the unit is gone: 5 and 6, and 1, which older builds of the
// Windows 11 MIDI service answer to a send the unit is no longer there to take.
bool IsLostLinkCode(unsigned result);

// An auto-reset event the receive path sets after every reply it stored, so a waiting update
// worker wakes at once instead of at the end of its pause.
HANDLE ReplyStoredEvent();
