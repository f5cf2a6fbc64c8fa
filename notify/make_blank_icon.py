#!/usr/bin/python3
"""Writes blank.ico: a 1x1 icon whose only pixel is fully transparent, held as a
single 8-bit RGBA PNG image. Run from this folder; the result is committed."""
import struct
import sys
import zlib


def chunk(kind: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def blank_png() -> bytes:
    header = struct.pack(">IIBBBBB", 1, 1, 8, 6, 0, 0, 0)  # 1x1, 8-bit, RGBA
    scanline = b"\x00" + b"\x00\x00\x00\x00"  # filter type none, then R G B A
    # Literals only (no back-references): the five bytes in one fixed-code block.
    packer = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_HUFFMAN_ONLY)
    pixels = packer.compress(scanline) + packer.flush()
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels)
            + chunk(b"IEND", b""))


def blank_ico(png: bytes) -> bytes:
    icon_header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 1, 1, 0, 0, 1, 32, len(png), 6 + 16)
    return icon_header + entry + png


def main() -> int:
    png = blank_png()
    ico = blank_ico(png)
    if len(png) != 70 or len(ico) != 92:
        print(f"unexpected sizes: png {len(png)}, ico {len(ico)}", file=sys.stderr)
        return 1
    with open(sys.argv[1] if len(sys.argv) > 1 else "blank.ico", "wb") as out:
        out.write(ico)
    return 0


if __name__ == "__main__":
    sys.exit(main())
