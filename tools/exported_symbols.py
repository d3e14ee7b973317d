"""Lists the symbols a shared object defines in its dynamic symbol table, read straight from
the ELF file (any 64-bit little-endian target, so the ARM wheel's module too), and fails if any
is not among those allowed: the module may export PyInit_tamarind alone, so that nothing loaded
before it can interpose on its engine or its C++ runtime.

    python tools/exported_symbols.py MODULE.so|WHEEL.whl [ALLOWED ...]   # default: PyInit_tamarind
"""
import struct
import sys
import zipfile

SHT_DYNSYM = 11
SHN_UNDEF = 0
STB_LOCAL = 0


def defined_dynamic_symbols(image):
    """Names of the global and weak symbols defined in the .dynsym of an ELF64 image (bytes)."""
    if image[:4] != b"\x7fELF" or image[4] != 2 or image[5] != 1:
        raise ValueError("not a 64-bit little-endian ELF file")
    shoff, = struct.unpack_from("<Q", image, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", image, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", image, shoff + i * shentsize) for i in range(shnum)]
    names = []
    for _, kind, _, _, offset, size, link, _, _, entsize in sections:
        if kind != SHT_DYNSYM:
            continue
        strtab = sections[link][4]
        for at in range(offset + entsize, offset + size, entsize):  # entry 0 is the null symbol
            name, info, _, shndx = struct.unpack_from("<IBBH", image, at)
            if shndx != SHN_UNDEF and info >> 4 != STB_LOCAL:
                names.append(image[strtab + name:image.index(b"\0", strtab + name)].decode())
    return names


def module_images(path):
    """(name, bytes) of the module itself, or of each module inside a wheel."""
    if not path.endswith(".whl"):
        with open(path, "rb") as f:
            return [(path, f.read())]
    with zipfile.ZipFile(path) as wheel:
        return [(n, wheel.read(n)) for n in wheel.namelist() if n.endswith(".so")]


def main(path, *allowed):
    allowed = set(allowed or ["PyInit_tamarind"])
    images = module_images(path)
    if not images:
        raise SystemExit(f"{path}: no module found")
    for name, image in images:
        extra = sorted(set(defined_dynamic_symbols(image)) - allowed)
        if extra:
            raise SystemExit(f"{name} exports {len(extra)} symbols besides {', '.join(sorted(allowed))}: "
                             + ", ".join(extra[:20]) + (" ..." if len(extra) > 20 else ""))
        print(f"{name}: exports {', '.join(sorted(allowed))} alone")


if __name__ == "__main__":
    main(*sys.argv[1:])
