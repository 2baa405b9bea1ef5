// The firmware image built into the program: a text header, a run of ready-made SysEx data
// records (each followed by 0x0D) and one 0xFF terminator.
#pragma once
#include <cstddef>
#include <cstdint>

#include "protocol/messages.h"

struct FirmwareImage {
    const uint8_t* start; // first byte, as located at start-up
    const uint8_t* end;   // the first 0xFF, or the end of the resource if it holds none
    const uint8_t* limit; // end of the resource: nothing at or past it is ever read
};

// Position of the next byte to look at.
using ImageCursor = const uint8_t*;

constexpr size_t IMAGE_HEADER_LENGTH = 56;
constexpr size_t IMAGE_SIGNATURE_OFFSET = 24;

// Describe size bytes at bytes as an image: finds the end (the first 0xFF).
FirmwareImage MakeFirmwareImage(const uint8_t* bytes, size_t size);

// Compares the product prefix and the maker signature. cursor must stand at the image start.
// 0 and the cursor directly after the signature on success; -1 on the first mismatch, or
// when the resource is too short to hold the header.
int CheckImageHeader(const FirmwareImage& image, ImageCursor& cursor);

// Moves the cursor onto the next record's 0xF0 and hands the record out as a span into the
// image (never copied). 1 when there is a record; 0 when there are no further records (the
// cursor reached the image end, or a record has no 0xF7 before it). The cursor stays on the
// record: the caller moves it past the record once the unit has accepted it.
int NextRecord(const FirmwareImage& image, ImageCursor& cursor, SysExMessage& record);
