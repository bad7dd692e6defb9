#!/usr/bin/env python3
"""Writes the seed inputs of paths_fuzz, cim_datetime_fuzz and
classic_name_fuzz in each target's input format (see the target's source)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(data)


def path_units(s):
    """One byte per unit below 0xFE, 0xFF and two bytes for the rest."""
    out = bytearray()
    for ch in s:
        unit = ord(ch)
        out += bytes([unit]) if unit < 0xFE else bytes([0xFF]) + struct.pack("<H", unit)
    return bytes(out)


def paths_input(*parts):
    return b"\xfe".join(path_units(p) for p in parts)


PATHS = {
    "drive_forward_slashes": ("C:/Data/Report.TXT", "c:\\data", "c:\\"),
    "long_drive_trailing": ("\\\\?\\C:\\Data\\", "C:\\DATA\\", "c:"),
    "long_unc": ("\\\\?\\UNC\\Server\\Share\\X", "\\\\server\\share", "\\\\server"),
    "nt_drive": ("\\??\\C:\\x\\", "c:\\x"),
    "volume": ("\\Device\\HarddiskVolume1\\Users\\a.txt", "c:\\users"),
    "longer_volume": ("\\Device\\HarddiskVolume10\\x", "d:"),
    "bare_volume": ("\\Device\\HarddiskVolume1",),
    "network_drive": ("\\Device\\LanmanRedirector\\;Z:0000000000012345\\Server\\Share\\doc.txt", "z:\\"),
    "subst_target": ("C:\\Work\\notes.txt", "c:\\work"),
    "volume_path_below_subst_target": ("\\Device\\HarddiskVolume1\\Work\\notes.txt", "c:\\work"),
    "sibling_prefix": ("c:\\database", "c:\\data"),
    "letters_beyond_ascii": ("C:\\\u00dcN\u00cf\\\u0416\\\u0391\u0178", "c:\\\u00fcn\u00ef"),
    "lower_unc_stays": ("\\\\?\\unc\\server\\x",),
    "separator_only": ("\\", "\\", ""),
    "nested_prefixes": ("\\??\\\\??\\C:\\x", "c:\\x"),
    "nested_long_unc": ("\\\\?\\UNC\\?\\c:\\x", "c:"),
    "volume_guid": ("\\\\?\\Volume{0b6b3c8e-1f2a-4c3d-9e8f-0123456789ab}\\Dir\\.\\x",),
    "dot_components": ("c:\\a\\..\\b", "c:\\a"),
    "relative_names": ("nul", "."),
    "drive_alone": ("C:",),
}

TIMES = [
    "20240131120000.000000+060",
    "20240229235959.999999-300",
    "20230229000000.000000+000",
    "16010101000000.000000+000",
    "16010101000000.000000+001",
    "16001231235959.999999-060",
    "30827-1231235959.999999+000",
    "308271231235959.999999-999",
    "20240131120000.******+060",
    "2024 1 1 1 1 1.   -12+-30",
    "20241301000000.000000+000",
    "20240131126000.000000+000",
    "2024013112000",
]


def main():
    for name, parts in PATHS.items():
        write("paths", name, paths_input(*parts))
    for i, text in enumerate(TIMES):
        write("cim_datetime", f"text{i:02}", b"\x00" + text.encode("ascii"))
    write("cim_datetime", "utf16_pairs", b"\x01" + TIMES[0].encode("utf-16-le"))
    write("cim_datetime", "utf16_wide_digit", b"\x01" + "2024\uff10131120000.000000+060".encode("utf-16-le"))
    name = "c:\\data\\a.txt".encode("utf-16-le")
    for p in (4, 8):
        key = struct.pack("<Q" if p == 8 else "<I", 0xFFFFA00000001230 if p == 8 else 0xA0001230)
        write("classic_name", f"name_p{p}", key + name + b"\0\0")
        write("classic_name", f"empty_name_p{p}", key + b"\0\0")
        write("classic_name", f"trailing_bytes_p{p}", key + name + b"\0\0" + b"x\0y\0")
        write("classic_name", f"unterminated_p{p}", key + name)
        write("classic_name", f"odd_length_p{p}", key + name + b"\0\0\0")
    write("classic_name", "key_only", struct.pack("<Q", 0x1234))


if __name__ == "__main__":
    main()
