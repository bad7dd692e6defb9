"""make_bench_image.py DIR [FILES]
Builds once, in DIR (outside any build tree), the benchmark's NTFS image of
FILES (1,000,000) files in nested folders, 10 x 100 folders of 1,000 files,
with mkntfs and ntfs-3g, and a copy of the same tree in DIR/tree for the
walk's best case (a local directory). DIR/complete marks a finished build;
later runs reuse it."""
import os
import shutil
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "tests", "scanner", "images"))
import ntfs_tool  # noqa: E402


def main():
    folder = os.path.abspath(sys.argv[1])
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    if os.path.exists(os.path.join(folder, "complete")):
        return 0
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    image = os.path.join(folder, "bench.img")
    ntfs_tool.make_image(image, max(256, files * 2600 >> 20))
    per_folder = 1000
    with ntfs_tool.mounted(image, os.path.join(folder, "m")) as root:
        made = 0
        for top in range(10):
            for middle in range(100):
                if made >= files:
                    break
                leaf = os.path.join(root, "top%d" % top, "middle%02d" % middle)
                os.makedirs(leaf)
                for k in range(min(per_folder, files - made)):
                    with open(os.path.join(leaf, "file%04d.dat" % k), "w") as f:
                        f.write("b" * (k % 100))
                made += min(per_folder, files - made)
        subprocess.run(["cp", "-a", root + "/.", os.path.join(folder, "tree")], check=True)
    open(os.path.join(folder, "complete"), "w").close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
