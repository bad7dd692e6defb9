#!/usr/bin/env python3
"""Writes the seed inputs of decode_fuzz: one valid payload of every layout
(versions 0 and 1, pointer sizes 4 and 8) plus classic name events, in the
fuzz target's input format [selector][version][pointer][flags] payload."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "decode")
POINTER_CODE = {8: 0, 4: 1}


def ptr(p, v):
    return struct.pack("<Q" if p == 8 else "<I", v)


def u32(v):
    return struct.pack("<I", v)


def text(s):
    return s.encode("utf-16-le") + b"\0\0"


def name_event(p, v):
    return ptr(p, 0xA000) + text("c:\\data\\a.txt")


def create(p, v):
    head = ptr(p, 0xC000) + (ptr(p, 0x71) if v == 0 else b"") + ptr(p, 0xB000) + (u32(77) if v else b"")
    return head + u32(0x20) + u32(0x80) + u32(7) + text("c:\\data\\missing.txt")


def close(p, v):
    return ptr(p, 0x50) + (ptr(p, 0x71) if v == 0 else b"") + ptr(p, 0xB000) + ptr(p, 0xA000) + (u32(77) if v else b"")


def io(p, v):
    body = struct.pack("<Q", 4096) + ptr(p, 0x50) + (ptr(p, 0x71) if v == 0 else b"")
    body += ptr(p, 0xB000) + ptr(p, 0xA000) + (u32(77) if v else b"") + u32(512) + u32(0)
    return body + (u32(0) if v else b"")


def operation_end(p, v):
    return ptr(p, 0xC000) + ptr(p, 0) + u32(0xC0000034)


def path_event(p, v):
    body = ptr(p, 0x50) + (ptr(p, 0x71) if v == 0 else b"") + ptr(p, 0xB000) + ptr(p, 0xA000) + ptr(p, 0)
    return body + (u32(77) if v else b"") + u32(10) + text("c:\\data\\b.txt")


LAYOUTS = [
    (10, (0,), name_event), (11, (0,), name_event), (12, (0, 1), create), (30, (0, 1), create),
    (14, (0, 1), close), (15, (0, 1), io), (16, (0, 1), io), (24, (0,), operation_end),
    (26, (0, 1), path_event), (27, (0, 1), path_event),
]


def main():
    os.makedirs(HERE, exist_ok=True)
    for event_id, versions, build in LAYOUTS:
        for v in versions:
            for p in (4, 8):
                data = bytes([event_id, v, POINTER_CODE[p], 0]) + build(p, v)
                with open(os.path.join(HERE, f"event{event_id}_v{v}_p{p}"), "wb") as f:
                    f.write(data)
    for opcode in (0, 32, 35, 36):
        for p in (4, 8):
            data = bytes([opcode, 0, POINTER_CODE[p], 0x10]) + name_event(p, 0)
            with open(os.path.join(HERE, f"classic{opcode}_p{p}"), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
