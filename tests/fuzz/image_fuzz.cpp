// Any resource bytes, as a whole image and behind a valid header: the header check and the walk
// stay inside the image (ASan), and every record handed out is one F0 ... F7 span before the end.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "firmware/image.h"

static void Walk(const uint8_t* bytes, size_t size) {
    const FirmwareImage image = MakeFirmwareImage(bytes, size);
    ImageCursor cursor = image.start;
    bool ok = std::find(bytes, bytes + size, 0xFF) == image.end;
    if (ok && CheckImageHeader(image, cursor) == 0) {
        for (SysExMessage r{}; ok && NextRecord(image, cursor, r) == 1; cursor += r.length) {
            ok = r.bytes == cursor && *cursor == 0xF0 && cursor + r.length <= image.end &&
                 std::memchr(cursor, 0xF7, r.length) == cursor + r.length - 1;
        }
    }
    if (!ok) {
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Walk(data, size);
    const std::string header = "tavi " + std::string(19, 'x') + "(c)Quenbrook Signalwerkstatt KG\r";
    std::vector<uint8_t> image(header.size() + size); // exactly sized: ASan sees a read past it
    std::copy(data, data + size, std::copy(header.begin(), header.end(), image.begin()));
    Walk(image.data(), image.size());
    return 0;
}
