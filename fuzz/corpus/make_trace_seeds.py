#!/usr/bin/env python3
"""Writes the seed inputs of trace_file_fuzz (see the target's source for
the format) from the recorded trace in tests/data/etl: the log header buffer
followed by one compressed buffer, the same header with the buffer stored
decompressed, and one buffer's compressed bytes for the decoder alone.
The recording's licence (MIT) is tests/data/etl/LICENSE-perfview.txt."""
import os
import struct
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE = os.path.join(HERE, "..", "..", "tests", "data", "etl", "net.4.5.2.x64.etl.zip")


def write(name, data):
    os.makedirs(os.path.join(HERE, "trace_file"), exist_ok=True)
    with open(os.path.join(HERE, "trace_file", name), "wb") as f:
        f.write(data)


def buffers(data):
    at = 0
    while at + 0x48 <= len(data):
        size = struct.unpack_from("<I", data, at)[0]
        yield data[at:at + size]
        at += size


with zipfile.ZipFile(FIXTURE) as archive:
    trace = archive.read("net.4.5.2.x64.etl")
parts = list(buffers(trace))
header = parts[0]
smallest = min(parts[1:], key=len)
write("header_and_smallest_buffer", b"\x00" + header + smallest)
write("header_alone", b"\x00" + header)
# The header buffer marked as not compressed, with no buffer after it.
plain = bytearray(header)
mode_at = 0x48 + 32 + 0x20
struct.pack_into("<I", plain, mode_at, struct.unpack_from("<I", plain, mode_at)[0] & ~0x04000000)
write("uncompressed_header", b"\x00" + bytes(plain))
filled = struct.unpack_from("<I", smallest, 4)[0]
write("lz77_block", b"\x01" + struct.pack("<H", min(filled - 0x48, 0xFFFF)) + smallest[0x48:0x48 + 600])
write("lz77_text", b"\x01\x40\x00" + b"abcabcabcabcabcabcabcabc xyz xyz xyz")
