"""Shared by the tests of damaged files and damaged pickles."""

import struct
import zlib


def with_checksums_repaired(data):
    """The input with the header's and every chunk's CRC-32 recomputed as far as the length fields
    allow, as the fuzz target also decodes it: mutations nearly always break a checksum first."""
    b = bytearray(data)
    if len(b) < 16:
        return data
    b[12:16] = struct.pack("<I", zlib.crc32(b[:12]))
    pos = 16
    while len(b) - pos >= 16:
        length = int.from_bytes(b[pos + 4:pos + 12], "little")
        if length > len(b) - pos - 16:
            break
        end = pos + 12 + length
        b[end:end + 4] = struct.pack("<I", zlib.crc32(b[pos:end]))
        pos = end + 4
    return bytes(b)
