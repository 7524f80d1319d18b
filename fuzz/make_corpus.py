#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into fuzz/corpus/<target>/: a handful of small valid and
near-valid inputs each. The committed files are this script's output; run it again after changing
it (python3 fuzz/make_corpus.py). The compound-file seeds come from the code's own Save and are
written by fuzz_make_compound_seeds when its path is given:

    cmake --build --preset default --target fuzz_make_compound_seeds
    python3 fuzz/make_corpus.py build/default/bin/fuzz_make_compound_seeds

Only the standard library is used.
"""
import os
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- PNG: every colour type and bit depth ReadPng converts, interlaced, and damaged files.

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, colour, depth, rows, interlace=0, extra=b"", plte=b""):
    """rows: the raw scanlines (without filter bytes) of the image, or of each Adam7 pass."""
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace)
    raw = b"".join(b"\x00" + r for r in rows)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
    if plte:
        out += chunk(b"PLTE", plte)
    out += extra + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    return out


def row_bytes(width, channels, depth):
    return (width * channels * depth + 7) // 8


def pattern(n, seed):
    return bytes((seed * 31 + i * 97) & 0xFF for i in range(n))


CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def simple(width, height, colour, depth, seed=1, **kw):
    n = row_bytes(width, CHANNELS[colour], depth)
    rows = [pattern(n, seed + y) for y in range(height)]
    return png(width, height, colour, depth, rows, **kw)


def adam7(width, height, colour, depth):
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
              (0, 1, 1, 2)]
    rows = []
    for x0, y0, dx, dy in passes:
        w = (width - x0 + dx - 1) // dx if width > x0 else 0
        h = (height - y0 + dy - 1) // dy if height > y0 else 0
        if w and h:
            n = row_bytes(w, CHANNELS[colour], depth)
            rows += [pattern(n, len(rows)) for _ in range(h)]
    return png(width, height, colour, depth, rows, interlace=1)


def pngs():
    put("png", "rgba8.png", simple(4, 3, 6, 8))
    put("png", "rgba8-partial-alpha.png",
        png(3, 2, 6, 8, [bytes([0, 255, 0, 128] * 3), bytes([10, 200, 30, 1, 0, 0, 0, 0, 9, 9, 9, 255])]))
    put("png", "rgb8.png", simple(5, 2, 2, 8))
    put("png", "rgb8-trns.png", simple(3, 3, 2, 8, extra=chunk(b"tRNS", b"\x00\x10\x00\x20\x00\x30")))
    put("png", "rgba16.png", simple(2, 2, 6, 16))
    put("png", "gray1.png", simple(9, 2, 0, 1))
    put("png", "gray2.png", simple(5, 2, 0, 2))
    put("png", "gray4.png", simple(3, 3, 0, 4))
    put("png", "gray16.png", simple(2, 3, 0, 16))
    put("png", "gray-alpha8.png", simple(3, 2, 4, 8))
    put("png", "palette-trns.png",
        simple(4, 2, 3, 2, plte=bytes([255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9]),
               extra=chunk(b"tRNS", b"\x00\x80")))
    put("png", "rgba8-interlaced.png", adam7(9, 9, 6, 8))
    put("png", "gray1-interlaced.png", adam7(10, 3, 0, 1))
    good = simple(4, 3, 6, 8)
    put("png", "truncated.png", good[:len(good) - 20])
    bad_crc = bytearray(good)
    bad_crc[29] ^= 0xFF  # the IHDR's CRC
    put("png", "bad-crc.png", bytes(bad_crc))
    put("png", "zero-width.png", png(0, 1, 6, 8, [b""]))
    put("png", "short-idat.png", png(4, 4, 6, 8, [pattern(16, 1)]))
    put("png", "signature-only.png", b"\x89PNG\r\n\x1a\n")


# --- The registry's text form.

HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"
CLSID = "{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}"


def registries():
    put("registry", "registration.reg",
        HEADER.replace("\r\n", "\n") +
        "[HKEY_CLASSES_ROOT\\CLSID\\" + CLSID + "]\n@=\"Tarnwell Velmora\"\n\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\" + CLSID + "\\InprocServer32]\n"
        "@=\"/opt/velmora/lib/libvelmora.so\"\n\"ThreadingModel\"=\"Both\"\n\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\" + CLSID + "\\Implemented Categories\\"
        "{C501EDBE-9E70-11D1-9053-00C04FD9189D}]\n\n"
        "[HKEY_CLASSES_ROOT\\Tarnwell.Velmora]\n@=\"Tarnwell Velmora\"\n\n"
        "[HKEY_CLASSES_ROOT\\Tarnwell.Velmora\\CLSID]\n@=\"" + CLSID + "\"\n\n")
    put("registry", "types.reg",
        HEADER + "[HKEY_CURRENT_USER\\Software\\Velmora]\r\n"
        "\"Name\"=\"a \\\"quoted\\\" \\\\ string\"\r\n\"Count\"=dword:0000002a\r\n"
        "\"Blob\"=hex:01,fe,00\r\n\"Expand\"=hex(2):25,00,41,00,00,00\r\n"
        "\"Multi\"=hex(7):61,00,00,62,00,00,00\r\n\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\\\r\n"
        "  10,11,12,13,14,15,16,17,18,19\r\n@=\"default\"\r\n")
    put("registry", "deletions.reg",
        "\ufeff" + HEADER + "; comment\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"v\"=\"1\"\n"
        "[-HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_LOCAL_MACHINE\\A]\n\"w\"=-\n\"x\"=dword:ffffffff\n")
    put("registry", "case.reg",
        HEADER + "[hkey_classes_root\\Key]\n\"V\"=\"1\"\n[HKEY_CLASSES_ROOT\\KEY\\sub]\n"
        "\"v\"=\"2\"\n")
    put("registry", "bad-header.reg", "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\A]\n")
    put("registry", "bad-root.reg", HEADER + "[HKEY_USERS\\A]\n")
    put("registry", "bad-value.reg", HEADER + "[HKEY_CLASSES_ROOT\\A]\n\"v\"=qword:1\n")
    put("registry", "value-outside.reg", HEADER + "\"v\"=\"1\"\n")
    put("registry", "empty.reg", "")


# --- The effect's stream and automation script (see effect_stream_fuzzer.cpp): an operation byte,
# then its arguments; a stream is a kind byte (0-3 memory, 4-6 scripted, 7 null), a length byte,
# the bytes, and for a scripted stream an answer byte and a count limit byte.

def mem(data):
    return bytes([0, len(data)]) + bytes(data)


def scripted(data, answer, limit):
    return bytes([4, len(data)]) + bytes(data) + bytes([answer, limit])


NULL = bytes([7])


def effect_streams():
    put("effect_stream", "load.bin", bytes([6]) + bytes([0]) + mem([0x80, 0x10, 0x20, 0x30]))
    put("effect_stream", "load-short.bin", bytes([0]) + mem([1, 2]) + bytes([4]) + mem([]) + b"\x01")
    put("effect_stream", "load-failing.bin",
        bytes([0]) + scripted([1, 2, 3, 4], 2, 4) + bytes([0]) + scripted([1, 2, 3, 4], 1, 3))
    put("effect_stream", "automation-load.bin",
        bytes([1]) + mem([255, 0, 255, 0]) + bytes([1]) + scripted([9, 9, 9, 9], 3, 4))
    put("effect_stream", "keys.bin",
        bytes([2]) + mem([255, 0, 0, 0]) + mem([255, 0, 255, 0]) + bytes([10, 1, 0, 0, 0]) +
        bytes([11]) + struct.pack("<d", 0.5))
    put("effect_stream", "keys-failing.bin", bytes([2]) + mem([1, 2, 3]) + mem([1, 2, 3, 4]))
    put("effect_stream", "interpolate.bin",
        bytes([3]) + mem([]) + mem([255, 0, 0, 0]) + mem([255, 0, 255, 0]) +
        struct.pack("<d", 0.25) + bytes([3]) + NULL + mem([0, 0, 0, 0]) + mem([1, 1, 1, 1]) +
        struct.pack("<d", float("nan")))
    put("effect_stream", "save.bin",
        bytes([9, 1, 2, 3, 4, 4]) + mem([]) + b"\x01" + bytes([4]) + scripted([], 0, 2) + b"\x00" +
        bytes([5]) + mem([]))
    put("effect_stream", "storage.bin",
        bytes([8, 2, 4, 0x80, 0x10, 0x20, 0x30, 8, 0, 0, 8, 4, 0, 8, 3, 4, 1, 2, 3, 4]))
    put("effect_stream", "presets.bin", bytes([7, 1, 7, 2, 7, 3, 7, 0xFF, 6]))


# --- The property bag (see propbag_fuzzer.cpp): a name byte (below 200 a known name), a type byte
# and the value; a BSTR is a length byte and characters.

def propbags():
    def value(name, type_index, payload):
        return bytes([name, type_index]) + payload

    d = struct.pack("<d", 1.0)
    put("propbag", "numbers.bin",
        value(0, 3, struct.pack("<I", 0x00FF00) + bytes(4)) + value(3, 10, d) + value(7, 4, d))
    put("propbag", "strings.bin",
        value(0, 6, bytes([4]) + b"\x00\x01\x02\x03") + value(7, 6, bytes([5]) + b"\x03\x05\x0c\x03\x03") +
        value(9, 6, bytes([4]) + bytes([22, 23, 24, 25])))
    put("propbag", "huge.bin", value(5, 5, struct.pack("<d", 1e300)) + value(7, 5, struct.pack("<d", -1e40)))
    put("propbag", "collide.bin", value(0, 2, bytes(8)) + value(1, 8, bytes(8)) + value(2, 16, b""))
    put("propbag", "empty.bin", b"")


# --- frei0r (see frei0r_fuzzer.cpp): width and height bytes, then operations.

def frei0rs():
    green = struct.pack("<fff", 0.0, 1.0, 0.0)
    frame = bytes([0, 128, 0, 128] * 4 + [10, 200, 30, 200] * 4)
    put("frei0r", "green.bin", bytes([3, 1, 0]) + green + bytes([3]) + frame + b"\x00")
    put("frei0r", "odd-floats.bin",
        bytes([7, 2, 0]) + struct.pack("<fff", float("nan"), float("inf"), -0.0) + bytes([4]) +
        frame + b"\x01" + struct.pack("<d", 1.5))
    put("frei0r", "other-index.bin",
        bytes([2, 2, 1]) + struct.pack("<i", 1) + bytes([7]) + b"#00ff00" + bytes(24) + b"\x00" +
        bytes([2, 1]) + struct.pack("<i", -5))
    put("frei0r", "tiny.bin", bytes([0, 0, 3]))


def compound_files(generator):
    folder = os.path.join(CORPUS, "compound_file")
    os.makedirs(folder, exist_ok=True)
    subprocess.run([generator, folder], check=True)


if __name__ == "__main__":
    pngs()
    registries()
    effect_streams()
    propbags()
    frei0rs()
    if len(sys.argv) > 1:
        compound_files(sys.argv[1])
