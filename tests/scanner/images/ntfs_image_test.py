"""Real NTFS images, made here with mkntfs and the ntfs-3g FUSE driver, read
by the scanner's table reader and compared record by record with Debian's
sleuthkit (an independent NTFS reader: paths, sizes and times) and, under
Wine, with the walk of the shipped DLL over the mounted image.

  ntfs_image_test.py --work DIR --native TABLE_BATCHES
  ntfs_image_test.py --work DIR --wine WINE_RUN PREFIX MIRRORCTL

--native reads each image with the native table reader and also checks the
damaged images; --wine reads it through mirrowctl scan --ntfs-image and
walks it with mirrowctl scan --walk through a drive letter of its own (N:,
a link in the prefix's dosdevices; Wine reports a mount point as a reparse
point, as Windows does for a folder a volume is mounted on). Exit 77
(skipped) with the reason when the tools are missing or FUSE cannot mount.

The main image holds 10,000 files in nested folders and a folder of 10,000
entries (a tree of 100,000 is left to the benchmark's image, to keep CI
short)."""
import argparse
import calendar
import json
import math
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ntfs_tool  # noqa: E402

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
        print("FAIL: " + text)


# ---- the images ----

def populate_main(root):
    """Every kind of entry the scanner must read right that one volume can hold."""
    for i in range(10):
        for j in range(10):
            folder = os.path.join(root, "nested", "d%d" % i, "e%d" % j)
            os.makedirs(folder)
            for k in range(100):
                with open(os.path.join(folder, "f%03d" % k), "w") as f:
                    f.write("x" * (k % 7))
    os.makedirs(os.path.join(root, "wide"))
    for k in range(10000):
        with open(os.path.join(root, "wide", ("W%05d" if k % 3 == 0 else "w%05d-x") % k), "w") as f:
            f.write("w")
    for name in ("Ünïcödé.txt", "日本語のファイル", "emoji-😀-🎉.txt", "n" * 255, "é" * 127 + "😀" * 64):
        with open(os.path.join(root, name), "w") as f:
            f.write(name[:10])
    for name, text in (("Case", "A"), ("case", "bb"), ("CASE", "ccc")):
        with open(os.path.join(root, name), "w") as f:
            f.write(text)
    for folder in ("a", "b", "c"):
        os.makedirs(os.path.join(root, "links", folder))
    with open(os.path.join(root, "links", "a", "linked"), "w") as f:
        f.write("linked in three folders")
    os.link(os.path.join(root, "links", "a", "linked"), os.path.join(root, "links", "b", "second"))
    os.link(os.path.join(root, "links", "a", "linked"), os.path.join(root, "links", "c", "third"))
    # Enough names for one file that its attributes no longer fit one record.
    os.makedirs(os.path.join(root, "many"))
    with open(os.path.join(root, "many", "base"), "w") as f:
        f.write("many names")
    for k in range(120):
        os.link(os.path.join(root, "many", "base"), os.path.join(root, "many", "name-%03d-%s" % (k, "L" * 40)))
    with open(os.path.join(root, "streamed"), "w") as f:
        f.write("main")
    subprocess.run(["setfattr", "-n", "user.extra", "-v", "a named stream", os.path.join(root, "streamed")], check=True)
    with open(os.path.join(root, "sparse.bin"), "w") as f:
        f.truncate(10 << 20)
    with open(os.path.join(root, "larger-than-the-volume.bin"), "w") as f:
        f.truncate(1 << 30)
    os.symlink("links/a", os.path.join(root, "interix-link"))
    with open(os.path.join(root, "offline.dat"), "w") as f:
        f.write("recalled on demand")
    subprocess.run(["setfattr", "-n", "system.ntfs_attrib_be", "-v", "0x00001020",
                    os.path.join(root, "offline.dat")], check=True)
    with open(os.path.join(root, "symlink"), "w"):
        pass
    subprocess.run(["setfattr", "-n", "system.ntfs_reparse_data",
                    "-v", "0x" + ntfs_tool.symbolic_link_buffer("links\\a\\linked").hex(),
                    os.path.join(root, "symlink")], check=True)
    os.makedirs(os.path.join(root, "junction"))
    subprocess.run(["setfattr", "-n", "system.ntfs_reparse_data",
                    "-v", "0x" + ntfs_tool.junction_buffer("C:\\Windows").hex(),
                    os.path.join(root, "junction")], check=True)
    os.makedirs(os.path.join(root, "deleted", "folder"))
    for name in ("deleted/gone.txt", "deleted/folder/inner.txt", "deleted/kept.txt"):
        with open(os.path.join(root, name), "w") as f:
            f.write("soon")
    os.remove(os.path.join(root, "deleted", "gone.txt"))
    shutil.rmtree(os.path.join(root, "deleted", "folder"))


def populate_small(root):
    os.makedirs(os.path.join(root, "t", "sub"))
    for name, text in (("t/sub/x", "x" * 5000), ("t/y", "yy"), ("z-ü", "z")):
        with open(os.path.join(root, name), "w") as f:
            f.write(text)
    os.link(os.path.join(root, "t", "y"), os.path.join(root, "t", "sub", "y-link"))


def make(work, name, mib, populate, cluster=None, sector=None, streams=False):
    image = os.path.join(work, name + ".img")
    ntfs_tool.make_image(image, mib, cluster, sector)
    with ntfs_tool.mounted(image, os.path.join(work, "m"), streams) as root:
        populate(root)
    return image


# ---- the three readers ----

def batches_of(lines):
    batches = [json.loads(line) for line in lines.splitlines() if line.startswith("{")]
    return batches


def records_of(batches):
    return [(r[0], r[1][0], r[1][1], r[1][2]) for b in batches for r in b["records"]]


class Native:
    def __init__(self, tool):
        self.tool = tool

    def table(self, image):
        done = subprocess.run([self.tool, image, "N:\\"], capture_output=True, check=True)
        return batches_of(done.stdout.decode()), done.stderr.decode().strip()


class Wine:
    def __init__(self, runner, prefix, mirrowctl):
        self.runner, self.prefix, self.mirrowctl = runner, prefix, mirrowctl

    def scan(self, *arguments):
        done = subprocess.run(["sh", self.runner, self.prefix, self.mirrowctl, "scan", "N:\\", "--batches"] +
                              list(arguments), capture_output=True, check=True)
        return batches_of(done.stdout.decode()), done.stderr.decode(errors="replace").strip()

    def table(self, image):
        return self.scan("--ntfs-image", "Z:" + image.replace("/", "\\"))

    def walk(self, image, work):
        dosdevices = os.path.join(self.prefix, "dosdevices")
        os.makedirs(dosdevices, exist_ok=True)
        letter = os.path.join(dosdevices, "n:")
        with ntfs_tool.mounted(image, os.path.join(work, "m")) as root:
            if os.path.lexists(letter):
                os.remove(letter)
            os.symlink(root, letter)
            try:
                return self.scan("--walk")
            finally:
                os.remove(letter)


def fls_seconds(text):
    return calendar.timegm(time.strptime(text.replace(" (UTC)", ""), "%Y-%m-%d %H:%M:%S"))


def windows_path(relative):
    return "n:\\" + relative.replace("/", "\\").lower()


# ---- comparisons ----

def second_of(value, second):
    """The whole second of a reported time, for comparison with sleuthkit's
    second (the file's time cut to the second). A report carries the double
    nearest to the time, which for a time in the last tenth of a microsecond
    of a second is the next whole second: such a value still belongs to
    sleuthkit's second. (The bounds allow one step of the double, not half
    of one, because they are doubles too.)"""
    step = math.ulp(value)
    if second - step <= value <= second + 1 + step:
        return second
    return int(value // 1)


def compare_with_sleuthkit(name, image, batches):
    """The same files (each name a record) with the same sizes and times to the second."""
    skipped = set(batches[-1]["skipped"])
    expected = []
    for path, _, kind, mtime, crtime, size in ntfs_tool.sleuthkit_entries(image):
        full = windows_path(path)
        if not kind.startswith("r") or full in skipped or any(full.startswith(s + "\\") for s in skipped):
            continue
        expected.append((full, size, fls_seconds(mtime), fls_seconds(crtime)))
    expected.sort()
    seconds = {p: (m, c) for p, _, m, c in expected}
    table = sorted((p, s, second_of(m, seconds.get(p, (0, 0))[0]), second_of(c, seconds.get(p, (0, 0))[1]))
                   for p, s, m, c in records_of(batches))
    # sleuthkit refuses a sparse file larger than its volume (valid NTFS): it
    # shows size 0. The table reports the file's logical size, as Windows does.
    larger = [e for e in expected if e[0] == "n:\\larger-than-the-volume.bin"]
    if larger:
        check(larger[0][1] == 0, name + ": sleuthkit now reads the sparse file larger than the volume")
        expected = [(p, 1 << 30, m, c) if p == larger[0][0] else (p, s, m, c) for p, s, m, c in expected]
    check(table == expected, "%s: the table and sleuthkit differ: %s" % (name, first_difference(table, expected)))
    print("%s: %d records agree with sleuthkit" % (name, len(table)))


def check_symbolic_link(name, image, batches):
    """The symbolic link (a reparse point of tag 0xA000000C) as each reader
    sees it. The table skips it as a reparse point, as Windows' listing
    marks it and the walk skips it. sleuthkit does not interpret reparse
    points: fls lists it as a plain file of 0 bytes (its unnamed stream is
    empty), so the comparison leaves it out with the table's skipped
    entries; istat shows its $REPARSE_POINT, which the Interix link (a plain
    file to Windows, reported by the table) lacks."""
    check("n:\\symlink" in batches[-1]["skipped"], name + ": the symbolic link is not skipped")
    check("n:\\symlink" not in [p for p, *_ in records_of(batches)], name + ": the symbolic link is reported")
    entries = {path: (inode, kind, size) for path, inode, kind, _, _, size in ntfs_tool.sleuthkit_entries(image)}
    for path, reparse in (("symlink", True), ("interix-link", False)):
        inode, kind, size = entries[path]
        check(kind.startswith("r") and (size == 0) == reparse, "%s: sleuthkit lists %s as %s, %d bytes" %
              (name, path, kind, size))
        istat = subprocess.run(["istat", image, inode], capture_output=True, check=True).stdout.decode()
        check(("$REPARSE_POINT" in istat) == reparse, "%s: istat of %s: %s" % (name, path, istat))


def first_difference(a, b):
    for x, y in zip(a, b):
        if x != y:
            return "%r against %r" % (x, y)
    return "%d against %d records" % (len(a), len(b))


def compare_with_walk(name, table_batches, walk_batches):
    """Record by record, in the walk's order, with differences that
    are the walk's under Wine, not the table's:
    - an offline file: Wine does not see the offline attribute and reports
      the file; Windows reports the attribute and the walk skips it, as
      the table does;
    - ntfs-3g's Interix link (ln -s): Wine sees a Linux symbolic link and
      skips it as a reparse point; Windows sees a plain file with the System
      attribute, which the table reports;
    - the junction: ntfs-3g cannot resolve a junction to another volume
      (stat fails with EIO), so Wine leaves the entry out of the listing;
      Windows lists a reparse point, which the walk skips as the table does;
    - the symbolic link (to a file, relative): ntfs-3g shows it as a Linux
      symbolic link, which Wine follows to its file and reports with that
      file's size and times (it marks only links to folders as reparse
      points); Windows lists a reparse point, which the walk skips as the
      table does;
    - creation times: Wine takes them from what the FUSE mount gives
      (ntfs-3g does not pass the creation time on), the table from the
      file's standard information, as Windows does."""
    table = records_of(table_batches)
    walk = records_of(walk_batches)
    table_skipped = table_batches[-1]["skipped"]
    walk_skipped = walk_batches[-1]["skipped"]
    walk_only = {"n:\\offline.dat", "n:\\symlink"}
    table_only = {"n:\\interix-link"}
    table_paths = {p for p, *_ in table}
    check({p for p, *_ in walk if p not in table_paths} <= walk_only,
          name + ": the walk reports files the table does not")
    table_kept = [(p, s, m) for p, s, m, _ in table if p not in table_only]
    walk_kept = [(p, s, m) for p, s, m, _ in walk if p not in walk_only]
    check(table_kept == walk_kept, "%s: the table and the walk differ: %s" % (name, first_difference(table_kept, walk_kept)))
    check(set(table_skipped) - {"n:\\offline.dat", "n:\\junction", "n:\\symlink"} ==
          set(walk_skipped) - {"n:\\interix-link"},
          "%s: skipped %r against %r" % (name, table_skipped, walk_skipped))
    ctimes = sum(1 for a, b in zip(table, walk) if a[3] != b[3])
    print("%s: %d records in the walk's order agree with the walk (%d creation times differ, Wine's)" %
          (name, len(table_kept), ctimes))


def expect_table(name, batches, way):
    check('"way":"table"' in way or way.endswith("master file table"), name + ": scanned by " + way)
    check(batches and batches[-1]["done"], name + ": never done")


# ---- damaged images ----

def damaged(reader, work, small):
    def copy(tag):
        path = os.path.join(work, tag + ".img")
        shutil.copyfile(small, path)
        return path

    truncated = copy("truncated")
    with open(truncated, "r+b") as f:
        f.truncate(os.path.getsize(small) // 2)
    batches, way = reader.table(truncated)
    check("shorter than its boot sector says" in way, "truncated: " + way)

    torn = copy("torn")
    number, at, _ = ntfs_tool.find_record(torn, "y")
    with open(torn, "r+b") as f:
        f.seek(at + 510)
        byte = f.read(1)
    ntfs_tool.patch(torn, at + 510, bytes([byte[0] ^ 0xFF]))
    batches, way = reader.table(torn)
    expect_table("torn", batches, way)
    check(batches[-1]["samples"] == ["n:\\: table record %d: update sequence mismatch" % number],
          "torn: %r" % batches[-1]["samples"])
    check("n:\\t\\y" not in [p for p, *_ in records_of(batches)], "torn: the torn record was reported")

    # t's folder becomes its own child sub: both leave the root's tree. The
    # root's index still names t (sleuthkit lists it), but nothing reaches
    # the pair from the root through the table: not reported, no error.
    looped = copy("loop")
    sub_number, _, _ = ntfs_tool.find_record(looped, "sub")
    _, t_at, t_value = ntfs_tool.find_record(looped, "t")
    with open(looped, "rb") as f:
        f.seek(t_at + 0x10)
        sub_sequence = 1
    ntfs_tool.patch(looped, t_at + t_value, (sub_number | (sub_sequence << 48)).to_bytes(8, "little"))
    batches, way = reader.table(looped)
    expect_table("loop", batches, way)
    check([p for p, *_ in records_of(batches)] == ["n:\\z-\u00fc"], "loop: %r" % records_of(batches))

    # The boot sector says the volume ends one cluster into the table: the
    # table's own run then lies past the volume's end.
    past = copy("past")
    sector, cluster, _, table = ntfs_tool.geometry(past)
    ntfs_tool.patch(past, 0x28, ((table // cluster + 1) * cluster // sector).to_bytes(8, "little"))
    batches, way = reader.table(past)
    check("past the volume's end" in way, "runs past the end: " + way)
    print("damaged images: truncated, torn, looped and past the end read as documented")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--native")
    parser.add_argument("--wine", nargs=3)
    options = parser.parse_args()
    try:
        ntfs_tool.require_tools()
    except ntfs_tool.Skip as reason:
        print("SKIPPED: %s" % reason)
        return 77
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    reader = Native(options.native) if options.native else Wine(*options.wine)
    started = time.time()
    images = [
        ("main", make(work, "main", 256, populate_main, streams=True)),
        ("clusters of 512 bytes", make(work, "c512", 32, populate_small, cluster=512)),
        ("clusters of 64 KiB", make(work, "c64k", 64, populate_small, cluster=65536)),
        ("4096-byte sectors", make(work, "s4096", 32, populate_small, cluster=4096, sector=4096)),
    ]
    print("images made in %.1f s" % (time.time() - started))
    _, base_at, _ = ntfs_tool.find_record(images[0][1], "base")
    istat = subprocess.run(["istat", images[0][1], str(ntfs_tool.base_of(images[0][1], base_at))],
                           capture_output=True, check=True).stdout.decode()
    check("$ATTRIBUTE_LIST" in istat, "main: the file with many names has no attribute list")
    for name, image in images:
        began = time.time()
        batches, way = reader.table(image)
        print("%s: table read in %.1f s" % (name, time.time() - began))
        expect_table(name, batches, way)
        check(batches[-1]["errors"] == 0, "%s: errors %r" % (name, batches[-1]["samples"]))
        compare_with_sleuthkit(name, image, batches)
        if isinstance(reader, Wine):
            began = time.time()
            walk_batches, walk_way = reader.walk(image, work)
            print("%s: walked in %.1f s" % (name, time.time() - began))
            compare_with_walk(name, batches, walk_batches)
    main_batches = reader.table(images[0][1])[0]
    check_symbolic_link("main", images[0][1], main_batches)
    paths = [p for p, *_ in records_of(main_batches)]
    check(paths.count("n:\\case") == 3, "main: names that differ only in case")
    check(sum(1 for p in paths if p.startswith("n:\\many\\")) == 121, "main: the names of the file with many")
    check("n:\\deleted\\gone.txt" not in paths and "n:\\deleted\\kept.txt" in paths, "main: deleted files")
    if isinstance(reader, Native):
        damaged(reader, work, images[1][1])
    shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
