"""What the image tests and the benchmark share: making NTFS images with
mkntfs and the ntfs-3g FUSE driver, reading their tables the way sleuthkit
does, and small raw edits (the table's records found by name, their
fixups kept) for damaged images.

Nothing here reads a table the way the scanner does: the edits follow
the on-disk format only as far as they must to find a record."""
import contextlib
import os
import struct
import subprocess
import tempfile


class Skip(Exception):
    """The machine cannot make or mount images; the reason says why."""


def require_tools():
    for tool in ("mkntfs", "ntfs-3g", "fls", "istat", "setfattr"):
        if subprocess.run(["sh", "-c", "command -v " + tool], capture_output=True).returncode != 0:
            raise Skip(tool + " is not installed (tools/install-deps.sh installs it)")
    with tempfile.TemporaryDirectory() as work:
        image = os.path.join(work, "probe.img")
        make_image(image, 8)
        try:
            with mounted(image, os.path.join(work, "m")):
                pass
        except subprocess.CalledProcessError as failure:
            raise Skip("FUSE cannot mount here: " + (failure.stderr or b"").decode(errors="replace").strip())


def make_image(path, mib, cluster=None, sector=None):
    with open(path, "wb") as f:
        f.truncate(mib << 20)
    command = ["mkntfs", "-q", "-F", "-f"]
    if cluster:
        command += ["-c", str(cluster)]
    if sector:
        command += ["-s", str(sector)]
    subprocess.run(command + [path], check=True, capture_output=True)


@contextlib.contextmanager
def mounted(image, folder, streams=False):
    os.makedirs(folder, exist_ok=True)
    command = ["ntfs-3g"]
    if streams:
        command += ["-o", "streams_interface=xattr"]
    subprocess.run(command + [image, folder], check=True, capture_output=True)
    try:
        yield folder
    finally:
        subprocess.run(["umount", folder], check=True)


def junction_buffer(target):
    """A mount-point reparse buffer (a junction) to \\??\\<target>."""
    substitute = ("\\??\\" + target).encode("utf-16-le")
    printed = target.encode("utf-16-le")
    body = struct.pack("<HHHH", 0, len(substitute), len(substitute) + 2, len(printed))
    body += substitute + b"\0\0" + printed + b"\0\0"
    return struct.pack("<IHH", 0xA0000003, len(body), 0) + body


def symbolic_link_buffer(target):
    """A symbolic-link reparse buffer to target, a path relative to the link's folder."""
    name = target.encode("utf-16-le")
    relative = 1
    body = struct.pack("<HHHHI", 0, len(name), len(name), len(name), relative) + name + name
    return struct.pack("<IHH", 0xA000000C, len(body), 0) + body


# ---- sleuthkit ----

def sleuthkit_entries(image, offset=0):
    """(path relative to the root with forward slashes, inode, kind, mtime, crtime, size)
    for every allocated name fls lists, metadata and named streams left out."""
    command = ["fls", "-r", "-p", "-l", "-u", "-z", "UTC"]
    if offset:
        command += ["-o", str(offset // 512)]
    out = subprocess.run(command + [image], check=True, capture_output=True).stdout.decode("utf-8", "replace")
    entries = []
    for line in out.splitlines():
        head, _, rest = line.partition("\t")
        fields = rest.split("\t")
        if len(fields) < 7:
            continue
        kind, inode = head.split(" ")[0], head.split(" ")[-1].rstrip(":")
        path = fields[0]
        if path.startswith("$") or ":" in path.split("/")[-1]:
            continue
        entries.append((path, inode.split("-")[0], kind, fields[1], fields[4], int(fields[5])))
    return entries


# ---- raw edits ----

def geometry(image, offset=0):
    with open(image, "rb") as f:
        f.seek(offset)
        boot = f.read(512)
    sector = struct.unpack_from("<H", boot, 11)[0]
    cluster = sector * boot[13]
    code = struct.unpack_from("<b", boot, 0x40)[0]
    record = code * cluster if code > 0 else 1 << -code
    table = struct.unpack_from("<Q", boot, 0x30)[0] * cluster
    return sector, cluster, record, offset + table


def unfixed(record):
    data = bytearray(record)
    array = struct.unpack_from("<H", data, 4)[0]
    count = struct.unpack_from("<H", data, 6)[0]
    for i in range(count - 1):
        data[(i + 1) * 512 - 2:(i + 1) * 512] = data[array + 2 + 2 * i:array + 4 + 2 * i]
    return data


def find_record(image, name, offset=0, limit=1 << 20):
    """Number and byte offset of the first in-use record with a file name
    attribute of that name (in the table's first extent), and where in the
    record the name's value starts."""
    _, _, size, table = geometry(image, offset)
    wanted = name.encode("utf-16-le")
    with open(image, "rb") as f:
        for number in range(limit):
            f.seek(table + number * size)
            raw = f.read(size)
            if len(raw) < size:
                break
            if raw[:4] != b"FILE" or not struct.unpack_from("<H", raw, 0x16)[0] & 1:
                continue
            data = unfixed(raw)
            at = struct.unpack_from("<H", data, 0x14)[0]
            while at + 8 <= size and struct.unpack_from("<I", data, at)[0] != 0xFFFFFFFF:
                kind, length = struct.unpack_from("<II", data, at)
                if length == 0:
                    break
                if kind == 0x30:
                    value = at + struct.unpack_from("<H", data, at + 0x14)[0]
                    units = data[value + 0x40]
                    if data[value + 0x42:value + 0x42 + 2 * units] == wanted:
                        return number, table + number * size, value
                at += length
    raise KeyError(name)


def patch(image, position, data):
    with open(image, "r+b") as f:
        f.seek(position)
        f.write(data)


def base_of(image, at):
    """The base record number of the record at byte offset at (itself when it is one)."""
    with open(image, "rb") as f:
        f.seek(at)
        raw = f.read(0x30)
    base = struct.unpack_from("<Q", raw, 0x20)[0] & 0xFFFFFFFFFFFF
    return base if base else struct.unpack_from("<I", raw, 0x2C)[0]
