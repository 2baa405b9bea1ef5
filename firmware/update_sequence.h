// The firmware update sequence, free of any platform: everything it does to the outside world
// goes through an UpdateIo record, which the Windows worker fills with real calls and the
// native tests with a virtual clock and the unit model.
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/image.h"

// Codes posted to the window for its update status line. (Not STATUS_*: <windows.h> has
// STATUS_TIMEOUT.)
enum UpdateStatus : int {
    UPDATE_PREPARING = 1,
    UPDATE_ERASING = 2,
    UPDATE_WRITING = 3,
    UPDATE_SUCCEEDED = 4,
    UPDATE_TIMEOUT = 6,
    UPDATE_CHECKSUM_ERROR = 7,
    UPDATE_INVALID_FIRMWARE = 9,
};

// The text the window shows for a status code, or nullptr for a code it does not know.
const char* UpdateStatusText(int status);

struct UpdateIo {
    void* context;
    // Sends one message and returns once the driver is done with it (or gave up).
    void (*Send)(void* context, const uint8_t* bytes, size_t length);
    uint8_t (*ReadReplyCode)(void* context); // acquire
    void (*ClearReplyCode)(void* context);
    void (*ReadVersion)(void* context, uint8_t version[2]);
    // One counted pause of ms milliseconds. It ends early only when the reply code becomes
    // awaited or alternative (0: none), or any code at all when awaited is 0: a stray reply
    // must not shorten it, or a noisy unit would run a wait's pauses out early.
    void (*WaitForReply)(void* context, unsigned ms, uint8_t awaited, uint8_t alternative);
    // False once the ports or the unit are gone: no reply can come any more.
    bool (*LinkOpen)(void* context);
    void (*PostStatus)(void* context, int status);
    void (*PostProgress)(void* context, uint16_t percent);
    // A modal message box owned by the main window (one OK button, no icon).
    void (*ShowMessage)(void* context, const char* text, const char* caption);
    void (*RequestClose)(void* context);
};

// Limits, in counted pauses.
constexpr unsigned HANDSHAKE_PAUSE_MS = 50;
constexpr unsigned HANDSHAKE_PAUSES = 9;
constexpr unsigned RECORD_PAUSE_MS = 1;
constexpr unsigned RECORD_PAUSES = 501;
constexpr unsigned RECORD_FAILURES_ALLOWED = 2; // the third since the last acceptance fails
// Answers to a record that are neither acceptance nor rejection get the record sent again;
// a unit that answers nothing else must still end the run (the 17th since the last acceptance).
constexpr unsigned RECORD_STRAYS_ALLOWED = 16;
constexpr unsigned ERASE_PAUSE_MS = 50;
constexpr unsigned ERASE_PAUSES = 1800; // 90 s: ample for any flash the unit may carry

// Runs the whole sequence against image (nullptr when the image could not be located).
// 0 when the unit reported the update finished; -1 on any failure, after the failure was
// reported through io.
int RunUpdateSequence(const UpdateIo& io, const FirmwareImage* image);

// The worker thread's body: the sequence, then on failure "Programming failed" and a close
// request, and always CMD_UPDATE_DONE last (through postDone). Returns the sequence's result.
int RunUpdateWorker(const UpdateIo& io, const FirmwareImage* image,
                    void (*postDone)(void* context));
