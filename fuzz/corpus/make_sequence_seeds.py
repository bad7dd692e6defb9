#!/usr/bin/env python3
"""Writes the seed inputs of sequence_fuzz (format: fuzz/sequence_script.h).

The seeds follow the build-like mix of bench/mix (opens of a hot set of
files by a few processes, each a create, two to six reads or writes and a
close, now and then a rename or a new file, a tenth of the files outside
the root, the host draining between) and add what the mix never does:
reads before their names, missing opens, stops and starts with the
configuration changed between them, the clock and the event count pushed to
the expiry, the recovery pass and the prune, and identities and paths new
on every use, which fill the binding maps, the name table and the budget."""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
FOLDER = os.path.join(HERE, "sequence")

# Operations (low five bits of the operation byte).
CREATE, CREATE_NEW, NAME_CREATE, NAME_DELETE, READ, WRITE, CLOSE, RENAME, DELETE, OP_END, CLASSIC, IGNORED = range(12)
DRAIN, DRAIN_ALL, CLOCK, SKIP, EXPIRE, RECOVERY, START_STOP, ROOT, EXCLUDE, MISSING, PROBE, EMIT = range(16, 28)

# Time moves (high three bits): none, a tick, 0.25 s, 1 s, 2.1 s, 6 s, -0.5 s, -4 s.
SAME, TICK, QUARTER, SECOND, ACROSS_BUCKET, ACROSS_WINDOW, BACK, FAR_BACK = range(8)

# Path indices of the script: a hot set inside the first root, files
# outside it, and paths new on every use.
HOT_PATHS = [0, 1, 2, 3, 4, 5, 13, 14, 17, 24, 27, 6, 18, 25]
OUTSIDE_PATHS = [7, 15, 16, 19, 23, 11]
MISSING_PATH = 8
FRESH_PATH, FRESH_LONG_PATH, FRESH_OUTSIDE = 28, 30, 31
NEW_IDENTITY, NEWEST_IDENTITY = 6, 7
NOT_FOUND = 2  # status 0xC0000034


def step(op, a=0, b=0, c=0, move=TICK):
    return bytes([(move << 5) | op, a & 0xFF, b & 0xFF, c & 0xFF])


def event_a(file_object, file_key, version=1):
    return file_object | file_key << 3 | version << 6


def event_b(path, process, plain=0):
    return path | process << 5 | plain << 7


def create_c(irp):
    return (irp & 3) | ((irp >> 2) & 3) << 2


def open_file(rng, path, file_object, file_key, process, irp, create=CREATE, move=TICK):
    out = step(create, event_a(file_object, file_key), event_b(path, process), create_c(irp), move)
    for _ in range(rng.randint(2, 6)):
        op = READ if rng.random() < 0.7 else WRITE
        out += step(op, event_a(file_object, file_key), event_b(path, process), 0, TICK)
    out += step(CLOSE, event_a(file_object, file_key), event_b(path, process), 0, TICK)
    return out


def mix(rng, opens, drain_every, fresh_objects=False, fresh_paths=False):
    out = b""
    events = 0
    for n in range(opens):
        process = rng.randint(0, 2)
        if fresh_paths and rng.random() < 0.3:
            path = FRESH_PATH
        elif rng.random() < 0.1:
            path = rng.choice(OUTSIDE_PATHS)
        else:
            path = rng.choice(HOT_PATHS)
        file_object = NEW_IDENTITY if fresh_objects else rng.randint(1, 5)
        file_key = NEW_IDENTITY if fresh_objects else rng.randint(1, 5)
        dice = rng.randint(0, 99)
        if dice < 2:
            out += step(RENAME, 0, event_b(path, process), 0)
        create = CREATE_NEW if dice == 2 else CREATE
        piece = open_file(rng, path, file_object, file_key, process, rng.randint(1, 15), create)
        if fresh_objects:
            # The reads and the close name the object and key just made.
            piece = piece[:4] + bytes(
                b if i % 4 != 1 else event_a(NEWEST_IDENTITY, NEWEST_IDENTITY) for i, b in enumerate(piece[4:], 4)
            )
        out += piece
        events += len(piece) // 4
        if events >= drain_every:
            events = 0
            out += step(DRAIN_ALL)
    return out + step(DRAIN_ALL)


def reads_before_names(rng):
    out = b""
    for _ in range(12):
        file_object, file_key = rng.randint(1, 5), rng.randint(1, 5)
        out += step(READ, event_a(file_object, file_key), event_b(rng.choice(HOT_PATHS), 1), 0, QUARTER)
        if rng.random() < 0.5:
            out += step(NAME_CREATE, event_a(0, file_key, 0), event_b(rng.choice(HOT_PATHS), 1), 0, BACK)
        else:
            out += step(CLOCK, 5)  # 2001 ms: the read is given up
            out += step(EXPIRE)
    out += step(SKIP, 0) + step(DRAIN_ALL)
    return out


def missing_opens():
    out = step(RECOVERY, 1)
    for irp in range(1, 12):
        out += step(CREATE, event_a(1, 1), event_b(MISSING_PATH, 0), create_c(irp))
    for irp in range(1, 12, 2):
        out += step(OP_END, irp >> 2, 0, (irp & 3) | NOT_FOUND << 2)
    out += step(CLOCK, 7)  # 30001 ms: the rest are too old
    for irp in range(2, 12, 2):
        out += step(OP_END, irp >> 2, 0, (irp & 3) | NOT_FOUND << 2)
    return out + step(DRAIN_ALL)


def restarts(rng):
    out = b""
    for round_ in range(4):
        out += step(ROOT, round_ | (8 if round_ % 2 else 0))
        out += step(EXCLUDE, round_)
        out += step(MISSING, round_)
        out += step(PROBE, round_ % 3)
        out += step(START_STOP, round_ % 2)  # start
        out += mix(rng, 6, 1000)
        out += step(ROOT, 1)  # refused while running
        out += step(START_STOP, 1)  # a second start is refused, then the stop
        out += step(DRAIN)
    return out


def classic_names(rng):
    out = b""
    for _ in range(10):
        file_key = rng.randint(1, 5)
        opcode = rng.randint(0, 3)
        out += step(CLASSIC, event_a(0, file_key), event_b(rng.choice(HOT_PATHS), 0), opcode << 2)
        out += step(READ, event_a(rng.randint(1, 5), file_key), event_b(0, 2), 0)
    return out + step(DRAIN_ALL)


def prune():
    out = b""
    for file_object in range(1, 6):
        out += open_file(random.Random(file_object), HOT_PATHS[file_object], file_object, file_object, 0, file_object)
    out += step(CLOCK, 6)  # 5001 ms: a prune is due
    out += step(SKIP, 1)  # to the next prune by the event count
    for file_object in range(1, 6):
        out += step(READ, event_a(file_object, file_object), event_b(0, 0), 0)
    out += step(CLOCK, 5) + step(EXPIRE) + step(DRAIN_ALL)
    return out


def emits(rng):
    out = b""
    for kind in range(12):
        out += step(EMIT, kind, event_b(rng.choice(HOT_PATHS + OUTSIDE_PATHS), rng.randint(0, 3)), 0, QUARTER)
    return out + step(DRAIN) + step(DRAIN)


def write(name, data):
    os.makedirs(FOLDER, exist_ok=True)
    with open(os.path.join(FOLDER, name), "wb") as f:
        f.write(data)


def main():
    rng = random.Random(0x853C49E6748FEA9B)
    write("mix_stopped", mix(rng, 30, 64))
    write("mix_running", step(START_STOP, 0) + mix(rng, 30, 64))
    write("mix_fresh_objects", step(START_STOP, 1) + mix(rng, 36, 48, fresh_objects=True))
    write("mix_fresh_names", mix(rng, 36, 128, fresh_paths=True))
    write("mix_no_drain", mix(rng, 36, 100000))
    write("reads_before_names", reads_before_names(rng))
    write("missing_opens", missing_opens())
    write("restarts", restarts(rng))
    write("classic_names", classic_names(rng))
    write("prune", prune())
    write("emits", emits(rng))


if __name__ == "__main__":
    main()
