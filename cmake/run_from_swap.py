#!/usr/bin/env python3
"""run_from_swap.py IMAGE: build step after linking a setup program image.

Sets the COFF header's IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP and IMAGE_FILE_NET_RUN_FROM_SWAP in
IMAGE, in place, and recomputes the optional header's checksum when the linker wrote one. With
these flags the loader copies the whole image into the paging file before it runs from removable
media or a network share, so that the packages the program reads from its own mapped image cannot
turn a dropped share or a pulled stick into a failed page read (a crash) in the middle of a run.
Binutils' ld (2.40) has no option for them. The result depends on IMAGE's bytes alone, and a
second run changes nothing.
"""
import array
import struct
import sys

REMOVABLE_RUN_FROM_SWAP = 0x0400
NET_RUN_FROM_SWAP = 0x0800


def pe_checksum(image, field):
    """The PE image checksum: the 16-bit words of the file (the checksum field counted as zero)
    added with end-around carry, plus the file's length."""
    words = array.array("H")
    words.frombytes(bytes(image[:len(image) & ~1]))
    if sys.byteorder == "big":
        words.byteswap()
    total = sum(words) - sum(struct.unpack_from("<HH", image, field))
    if len(image) & 1:
        total += image[-1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: run_from_swap.py IMAGE")
    path = sys.argv[1]
    with open(path, "rb") as file:
        image = bytearray(file.read())
    if image[:2] != b"MZ":
        sys.exit(f"run_from_swap.py: {path}: not a PE image")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"run_from_swap.py: {path}: not a PE image")
    characteristics_field = pe + 22  # after the signature and the COFF header's first 18 bytes
    checksum_field = pe + 24 + 64  # in the optional header, at the same place for PE32 and PE32+
    (characteristics,) = struct.unpack_from("<H", image, characteristics_field)
    struct.pack_into("<H", image, characteristics_field,
                     characteristics | REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP)
    (checksum,) = struct.unpack_from("<I", image, checksum_field)
    if checksum:
        struct.pack_into("<I", image, checksum_field, pe_checksum(image, checksum_field))
    # Written only when it changed, so that a second run leaves even the file's time alone.
    with open(path, "rb") as file:
        if file.read() == image:
            return
    with open(path, "r+b") as file:
        file.write(image)


if __name__ == "__main__":
    main()
