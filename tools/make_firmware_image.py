#!/usr/bin/env python3
"""Writes the stand-in firmware image resources/tavi-2.1.fw.

The real unit firmware is not ours to ship, so the program embeds an image of the same layout
and size: the 56-byte text header, 2,357 data records (F0 2C 4D 30 ... F7, each followed by
0x0D) and one 0xFF. The payload follows the boot loader's record layout that the simulated unit
checks (sim/unit_model.h):

    F0 2C 4D 30  a2 a1 a0  n  d[0] .. d[n-1]  c  F7     (length n + 10, n = 2..19)

The flash contents are pseudo-random 7-bit bytes from a fixed seed, except the two version
characters '2' '1' at flash addresses 0 and 1. The output is the same on every run and every
machine; the script checks the totals before writing anything.

Usage: make_firmware_image.py [OUTPUT]   (default: resources/tavi-2.1.fw beside tools/)
"""

import os
import sys

HEADER = (b"tavi " + b"21" + b"-" + bytes([0x0F, 0x04, 0x01, 0x07]) + b"-" + b"02.11.2012" + b"-"
          + b"(c)Quenbrook Signalwerkstatt KG" + b"\x0d")

RECORD_COUNT = 2357
FULL_RECORD_COUNT = 2165  # records carrying the most data bytes the boot loader takes
IMAGE_LENGTH = 68594
FULL_DATA = 19  # data bytes in a full record (29 bytes in all)
MIN_DATA = 2  # data bytes in the shortest record (12 bytes in all)
RECORD_OVERHEAD = 10  # F0 2C 4D 30, three address bytes, count, checksum, F7
VERSION = b"21"  # firmware version characters, at flash addresses 0 and 1


class XorShift32:
    """A tiny generator of our own, so the output never depends on a library's choices."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def below(self, n):
        return self.next() % n


def plan_blocks(rng):
    """Splits the firmware into blocks: each is a run of full records closed by one short
    record, the way a linker's sections come out of a record writer. Returns the data-byte
    count of every record, in order."""
    short_count = RECORD_COUNT - FULL_RECORD_COUNT
    # Data bytes the short records must hold between them for the image to reach its length.
    records_bytes = IMAGE_LENGTH - len(HEADER) - 1 - RECORD_COUNT  # without the 0x0D bytes
    short_data_total = (records_bytes - FULL_RECORD_COUNT * (FULL_DATA + RECORD_OVERHEAD)
                        - short_count * RECORD_OVERHEAD)
    short_data = [MIN_DATA] * short_count
    # The first block's short record keeps the minimum, so the shortest length is present.
    for _ in range(short_data_total - MIN_DATA * short_count):
        while True:
            i = 1 + rng.below(short_count - 1)
            if short_data[i] < FULL_DATA - 1:
                short_data[i] += 1
                break
    full_per_block = [0] * short_count
    for _ in range(FULL_RECORD_COUNT):
        full_per_block[rng.below(short_count)] += 1
    plan = []
    for full, short in zip(full_per_block, short_data):
        plan += [FULL_DATA] * full + [short]
    return plan


def make_record(address, data):
    address_bytes = [(address >> 14) & 0x7F, (address >> 7) & 0x7F, address & 0x7F]
    body = address_bytes + [len(data)] + list(data)
    checksum = (128 - sum(body) % 128) % 128
    return bytes([0xF0, 0x2C, 0x4D, 0x30] + body + [checksum, 0xF7])


def make_image():
    rng = XorShift32(0x7A5E2012)
    plan = plan_blocks(rng)
    flash_size = sum(plan)
    flash = bytearray(rng.below(0x80) for _ in range(flash_size))
    flash[0:2] = VERSION
    image = bytearray(HEADER)
    address = 0
    records = []
    for count in plan:
        record = make_record(address, flash[address:address + count])
        records.append(record)
        image += record + b"\x0d"
        address += count
    image.append(0xFF)
    check(bytes(image), records)
    return bytes(image)


def check(image, records):
    assert len(HEADER) == 56, len(HEADER)
    assert len(records) == RECORD_COUNT, len(records)
    lengths = [len(r) for r in records]
    assert min(lengths) == 12 and max(lengths) == 29, (min(lengths), max(lengths))
    assert lengths.count(29) == FULL_RECORD_COUNT, lengths.count(29)
    assert len(image) == IMAGE_LENGTH, len(image)
    assert image.index(0xFF) == IMAGE_LENGTH - 1, "0xFF before the end"
    for r in records:
        assert r[:4] == b"\xf0\x2c\x4d\x30" and r[-1] == 0xF7
        assert all(b < 0x80 for b in r[4:-1]), "payload byte above 0x7F"
        assert len(r) == r[7] + RECORD_OVERHEAD
        assert sum(r[4:-1]) % 128 == 0, "checksum"
    assert records[0][8:10] == VERSION


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "resources", "tavi-2.1.fw")
    output = sys.argv[1] if len(sys.argv) > 1 else default
    image = make_image()
    with open(output, "wb") as f:
        f.write(image)
    print(f"{output}: {len(image)} bytes, {RECORD_COUNT} records")


if __name__ == "__main__":
    main()
