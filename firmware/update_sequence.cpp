#include "firmware/update_sequence.h"

namespace {

const char kCaptionError[] = "Error";
const char kCaptionWarning[] = "Warning";

// Clears the reply code first, so a reply that arrives while the send is still completing is
// already there when the wait begins.
void ClearAndSend(const UpdateIo& io, const SysExMessage& message) {
    io.ClearReplyCode(io.context);
    io.Send(io.context, message.bytes, message.length);
}

// The short waits of the handshake, the check and the finish: the code is tested before each of
// HANDSHAKE_PAUSES pauses and once after the last, since that pause ends early on the very reply
// it waits for. Returns the first code that is one of the two awaited ones, or 0 when the pauses
// ran out without either (a code nobody waits for is treated like no reply).
uint8_t AwaitEither(const UpdateIo& io, uint8_t awaited, uint8_t alternative) {
    for (unsigned pauses = 0;; ++pauses) {
        const uint8_t code = io.ReadReplyCode(io.context);
        if (code == awaited || (alternative != 0 && code == alternative)) {
            return code;
        }
        if (pauses == HANDSHAKE_PAUSES) {
            return 0;
        }
        io.WaitForReply(io.context, HANDSHAKE_PAUSE_MS, awaited, alternative);
    }
}

int Fail(const UpdateIo& io, int status) {
    io.PostStatus(io.context, status);
    return -1;
}

int Handshake(const UpdateIo& io) {
    ClearAndSend(io, MessageTable[MSG_STATUS_REQUEST]);
    const uint8_t code = AwaitEither(io, REPLY_UPDATE_MODE, REPLY_RUNNING);
    if (code == REPLY_UPDATE_MODE) {
        return 0;
    }
    if (code == REPLY_RUNNING) {
        io.ShowMessage(io.context, "tavi not in update mode", kCaptionError);
        return -1;
    }
    return Fail(io, UPDATE_TIMEOUT);
}

// Erasing takes the unit a while, so this wait is long; but it is bounded, and before each of
// its pauses it asks whether the link is still there: once the unit is known to be gone, no
// answer can ever come, and the wait ends at that test rather than after its 90 s.
int Erase(const UpdateIo& io) {
    io.PostStatus(io.context, UPDATE_ERASING);
    ClearAndSend(io, MessageTable[MSG_ERASE_REQUEST]);
    for (unsigned pauses = 0;; ++pauses) {
        if (io.ReadReplyCode(io.context) == REPLY_ERASED) {
            return 0;
        }
        if (pauses == ERASE_PAUSES || !io.LinkOpen(io.context)) {
            return Fail(io, UPDATE_TIMEOUT);
        }
        io.WaitForReply(io.context, ERASE_PAUSE_MS, REPLY_ERASED, 0);
    }
}

// Waits for the answer to one record. Returns the code as it stands at the end of the wait
// (0 when none came) and sets timedOut when all the pauses ran out.
uint8_t AwaitRecordReply(const UpdateIo& io, bool& timedOut) {
    timedOut = false;
    uint8_t code = io.ReadReplyCode(io.context);
    for (unsigned pauses = 0; code == 0;) {
        io.WaitForReply(io.context, RECORD_PAUSE_MS, 0, 0);
        ++pauses;
        if (pauses == RECORD_PAUSES) {
            timedOut = true;
            // A reply stored during the last pause still counts.
            return io.ReadReplyCode(io.context);
        }
        code = io.ReadReplyCode(io.context);
    }
    return code;
}

// (cursor - start) * 100 / (end - start), truncated; the window takes the low 16 bits. The
// product is formed in 64 bits so that no image size can overflow it.
uint16_t Progress(const FirmwareImage& image, ImageCursor cursor) {
    const int64_t span = image.end - image.start;
    if (span <= 0) {
        return 0; // no bytes before the terminator: nothing to measure against
    }
    const int64_t done = cursor - image.start;
    const auto percent = static_cast<int32_t>(done * 100 / span);
    return static_cast<uint16_t>(percent & 0xFFFF);
}

int WriteRecords(const UpdateIo& io, const FirmwareImage& image, ImageCursor& cursor) {
    // All three count since the last accepted record.
    unsigned failures = 0;
    unsigned rejections = 0;
    unsigned strays = 0;
    SysExMessage record{};
    while (NextRecord(image, cursor, record) == 1) {
        ClearAndSend(io, record);
        bool timedOut = false;
        const uint8_t code = AwaitRecordReply(io, timedOut);
        if (timedOut) {
            ++failures;
            if (failures > RECORD_FAILURES_ALLOWED) {
                return Fail(io, UPDATE_TIMEOUT);
            }
        }
        if (code == REPLY_RECORD_ACCEPTED) {
            cursor += record.length;
            failures = 0;
            rejections = 0;
            strays = 0;
        } else if (code == REPLY_RECORD_REJECTED) {
            ++rejections;
            if (rejections > RECORD_FAILURES_ALLOWED) {
                return Fail(io, UPDATE_CHECKSUM_ERROR);
            }
        } else if (!timedOut) {
            // Some other answer: the record goes again at once, without using up the
            // time-outs it is allowed.
            ++strays;
            if (strays > RECORD_STRAYS_ALLOWED) {
                return Fail(io, UPDATE_TIMEOUT);
            }
        }
        io.PostProgress(io.context, Progress(image, cursor));
    }
    return 0;
}

int Check(const UpdateIo& io) {
    ClearAndSend(io, MessageTable[MSG_STATUS_REQUEST]);
    // Only 0x20 counts: a unit that answers 0x21 here has left update mode unasked.
    if (AwaitEither(io, REPLY_UPDATE_MODE, 0) != REPLY_UPDATE_MODE) {
        return Fail(io, UPDATE_TIMEOUT);
    }
    uint8_t version[2] = {0, 0};
    io.ReadVersion(io.context, version);
    if (version[0] == VERSION_INVALID && version[1] == VERSION_INVALID) {
        return Fail(io, UPDATE_INVALID_FIRMWARE);
    }
    return 0;
}

int Finish(const UpdateIo& io) {
    ClearAndSend(io, MessageTable[MSG_FINISH_REQUEST]);
    if (AwaitEither(io, REPLY_FINISHED, 0) != REPLY_FINISHED) {
        return Fail(io, UPDATE_TIMEOUT);
    }
    io.PostStatus(io.context, UPDATE_SUCCEEDED);
    return 0;
}

} // namespace

const char* UpdateStatusText(int status) {
    switch (status) {
    case UPDATE_PREPARING:
        return "Preparing";
    case UPDATE_ERASING:
        return "Erasing";
    case UPDATE_WRITING:
        return "Writing";
    case UPDATE_SUCCEEDED:
        return "Programming successful";
    case UPDATE_TIMEOUT:
        return "Timeout error";
    case UPDATE_CHECKSUM_ERROR:
        return "Checksum error";
    case UPDATE_INVALID_FIRMWARE:
        return "Invalid firmware";
    default:
        return nullptr;
    }
}

int RunUpdateSequence(const UpdateIo& io, const FirmwareImage* image) {
    io.PostStatus(io.context, UPDATE_PREPARING);
    ImageCursor cursor = image ? image->start : nullptr;
    // Without an image (the resource could not be located at start-up) there is nothing to
    // check: that is reported like a damaged one.
    // The window is asked to close only once, after "Programming failed": a close request
    // posted here would end the program before the user could read that second box.
    if (!image || CheckImageHeader(*image, cursor) != 0) {
        io.ShowMessage(io.context, "Data file corrupted", kCaptionError);
        return -1;
    }
    if (Handshake(io) != 0 || Erase(io) != 0) {
        return -1;
    }
    io.PostStatus(io.context, UPDATE_WRITING);
    if (WriteRecords(io, *image, cursor) != 0 || Check(io) != 0 || Finish(io) != 0) {
        return -1;
    }
    return 0;
}

int RunUpdateWorker(const UpdateIo& io, const FirmwareImage* image,
                    void (*postDone)(void* context)) {
    const int result = RunUpdateSequence(io, image);
    if (result != 0) {
        io.ShowMessage(io.context, "Programming failed", kCaptionWarning);
        io.RequestClose(io.context);
    }
    postDone(io.context);
    return result;
}
