"""Both vector kernel tables (AVX2 and AVX-512) of this build, run on an emulated x86-64
processor that executes AVX-512 whatever the host runs, against results worked out here.

Usage: check_kernels.py IMAGE [GLIBC_SHIM]

IMAGE is the flat image of tests/emulator/entry.cpp and the build's kernel objects (see
CMakeLists.txt), mapped at IMAGE_BASE and entered at its first byte. Every kernel runs on
every length it treats differently and on named patterns, on slices that end right before
an unmapped page or start right after one (so a read or write past either end faults) in
windows filled with canaries (so a stray write shows). Results are compared as bit
patterns: a -0.0 duplicated over a +0.0 counts as a fault.

Exits 0 when all cases pass, 1 on the first fault, 77 (skipped) when the emulator cannot
be loaded. The emulator may crash at interpreter exit, so the process leaves with
os._exit once its result is printed.
"""

import ctypes
import math
import mmap
import os
import random
import struct
import sys
import time

SKIPPED = 77
IMAGE_BASE = 0x400000  # image.ld
PAGE = 0x1000

# Guest memory, identity-mapped; a page left out of the page tables faults on any access.
PML4, PDPT, PD, PT0 = 0x1000, 0x2000, 0x3000, 0x4000  # PT0.. : one table per 2 MiB
STACK_LOW, STACK_TOP = 0x600000, 0x640000
RETURN_ADDRESS = 0x7FF000  # never mapped: the kernel's return faults there
WINDOW_PAGES = 48
END_WINDOW = 0x800000  # mapped [END_WINDOW, END_WINDOW + 48 pages); the page after is not
START_WINDOW = 0xA01000  # the page before is not mapped
WINDOW_BYTES = WINDOW_PAGES * PAGE
MEMORY_BYTES = 0xC00000

ISAS = ("AVX2", "AVX-512")
TYPES = ("f64", "i64", "u64")
FORMAT = {"f64": "d", "i64": "q", "u64": "Q"}
# entry.cpp's numbering.
PARTITION_LESS, PARTITION_NOT_GREATER, SORT_NETWORK, IS_NON_DESCENDING, IS_STRICTLY_DESCENDING, HAS_NAN = range(6)
PAIR_TESTS = ("ascending", "descending", "equal")
RUN_FORWARD = 6  # + the pair test's index; the backward scans follow
RUN_BACKWARD = RUN_FORWARD + len(PAIR_TESTS)
NETWORK_MAX = 128

CANARY = bytes((0xA5 ^ (i * 29)) & 0xFF for i in range(WINDOW_BYTES))


def load_emulator(shim):
    """Imports bochscpu, with the glibc shim where the C library lacks what it needs."""
    libc = ctypes.CDLL(None)
    if shim and not hasattr(libc, "__isoc23_strtoull"):
        ctypes.CDLL(shim, mode=os.RTLD_GLOBAL | os.RTLD_NOW)
    import bochscpu
    import bochscpu.memory

    return bochscpu


class Fault(Exception):
    pass


class Guest:
    """An emulated processor in 64-bit mode with the image and stack mapped, calling the
    image's entry with up to six integer arguments."""

    def __init__(self, bochscpu, image):
        self.bc = bochscpu
        self.memory = mmap.mmap(-1, MEMORY_BYTES)
        self.view = memoryview(self.memory)
        self.host = host = ctypes.addressof(ctypes.c_char.from_buffer(self.memory))
        mapped = []
        image_end = IMAGE_BASE + (len(image) + PAGE - 1) // PAGE * PAGE
        mapped += range(IMAGE_BASE, image_end, PAGE)
        mapped += range(STACK_LOW, STACK_TOP, PAGE)
        mapped += range(END_WINDOW, END_WINDOW + WINDOW_BYTES, PAGE)
        mapped += range(START_WINDOW, START_WINDOW + WINDOW_BYTES, PAGE)
        self.view[IMAGE_BASE : IMAGE_BASE + len(image)] = image
        tables = [PML4, PDPT, PD] + [PT0 + i * PAGE for i in range(MEMORY_BYTES >> 21)]
        for page in tables + mapped:
            bochscpu.memory.page_insert(page, host + page)
        # Present, writable, user; data and stack pages not executable.
        entry = lambda address, nx=False: struct.pack("<Q", address | 7 | (1 << 63 if nx else 0))
        self.view[PML4 : PML4 + 8] = entry(PDPT)
        self.view[PDPT : PDPT + 8] = entry(PD)
        for i in range(MEMORY_BYTES >> 21):
            self.view[PD + 8 * i : PD + 8 * i + 8] = entry(PT0 + i * PAGE)
        for page in mapped:
            at = PT0 + (page >> 12) * 8
            self.view[at : at + 8] = entry(page, nx=page >= STACK_LOW)

        state = bochscpu.State()
        state.cr0 = (1 << 31) | (1 << 16) | (1 << 5) | (1 << 4) | (1 << 1) | 1  # PG WP NE ET MP PE
        state.cr3 = PML4
        state.cr4 = (1 << 18) | (1 << 10) | (1 << 9) | (1 << 5)  # OSXSAVE OSXMMEXCPT OSFXSR PAE
        state.efer = (1 << 11) | (1 << 10) | (1 << 8)  # NXE LMA LME
        # x87, SSE, AVX, and the three AVX-512 states: without all of them (or without
        # OSXSAVE) the first EVEX instruction is undefined.
        state.xcr0 = 0xE7
        state.mxcsr = 0x1F80
        state.rflags = 0x2
        code, data = bochscpu.Segment(), bochscpu.Segment()
        code.present = data.present = True
        code.selector, data.selector = 0x33, 0x2B  # ring 3
        code.attr = 0x20FB  # present, DPL 3, code, executable/readable/accessed, long mode
        data.attr = 0xC0F3  # present, DPL 3, data, writable/accessed, 32-bit, 4 KiB granular
        code.limit = data.limit = 0xFFFFFFFF
        state.cs, state.ss, state.ds, state.es, state.fs, state.gs = code, data, data, data, data, data
        self.state = state

        self.session = bochscpu.Session()
        self.session.missing_page_handler = self._missing_page
        self.exception = None
        hook = bochscpu.Hook()
        hook.exception = self._on_exception
        self.hooks = [hook]

    def _missing_page(self, gpa):
        raise Fault(f"physical page {gpa:#x} missing")

    def _on_exception(self, session, cpu_id, vector, error_code):
        if self.exception is None:
            self.exception = (vector, error_code)
        session.stop()

    def call(self, *args):
        """Runs the entry with args; returns rax, or raises Fault with what went wrong."""
        state = self.state
        state.rip = IMAGE_BASE
        state.rsp = STACK_TOP - 8  # as after a call: the return address on top
        self.view[STACK_TOP - 8 : STACK_TOP] = struct.pack("<Q", RETURN_ADDRESS)
        regs = ("rdi", "rsi", "rdx", "rcx", "r8", "r9")
        for name, value in zip(regs, args):
            setattr(state, name, value)
        cpu = self.session.cpu
        cpu.set_state(state)
        self.exception = None
        self.session.run(self.hooks)
        vector, _ = self.exception or (None, None)
        if vector == 14 and cpu.rip == RETURN_ADDRESS:
            return cpu.rax
        where = f"rip {cpu.rip:#x} (image offset {cpu.rip - IMAGE_BASE:#x})"
        if vector == 14:
            raise Fault(f"page fault at address {cpu.cr2:#x}, {where}")
        raise Fault(f"exception {vector}, {where}")


# ----- values and patterns -----

def bits(t, x):
    return struct.unpack("<Q", struct.pack("<" + FORMAT[t], x))[0]


def special_values(t):
    if t == "f64":
        return [-math.inf, math.inf, -0.0, 0.0, 5e-324, -5e-324, 1.7976931348623157e308,
                -1.7976931348623157e308, 2.2250738585072014e-308, 1.0, -1.0]
    if t == "i64":
        return [-(1 << 63), (1 << 63) - 1, 0, 1, -1, 1 << 56, -(1 << 56)]
    return [0, 1, (1 << 64) - 1, 1 << 63, (1 << 63) - 1, (1 << 63) + 1]


def random_value(t, rng):
    if t == "f64":
        return math.ldexp(rng.uniform(-1.0, 1.0), rng.randrange(-40, 40))
    if t == "i64":
        return rng.randrange(-(1 << 63), 1 << 63)
    return rng.randrange(1 << 64)


def rank_value(t, r):
    """Small ranks, in order, for every type; u64 around 2^63 so that a signed compare
    of unsigned lanes gets them wrong."""
    return {"f64": (r - 4) * 0.5, "i64": r - 4, "u64": (1 << 63) + r - 4}[t]


PATTERNS = ("random", "sorted", "reversed", "all_equal", "few_distinct", "organ_pipe", "extremes", "signed_zeros")


def make_pattern(name, t, n, rng):
    if name == "signed_zeros" and t != "f64":
        name = "few_distinct"
    if name in ("random", "sorted", "reversed"):
        v = [random_value(t, rng) for _ in range(n)]
        if name != "random":
            v.sort(reverse=name == "reversed")
        return v
    if name == "all_equal":
        return [random_value(t, rng)] * n
    if name == "few_distinct":
        # For f64 both zeros among them: equal to the comparisons, different in bits.
        values = [rank_value(t, r) for r in range(6)] + ([-0.0, 0.0] if t == "f64" else [])
        return [rng.choice(values) for _ in range(n)]
    if name == "organ_pipe":
        return [rank_value(t, min(i, n - i)) for i in range(n)]
    if name == "extremes":
        specials = special_values(t)
        return [rng.choice(specials) if rng.randrange(3) else random_value(t, rng) for _ in range(n)]
    if name == "signed_zeros":
        return [rng.choice((-0.0, 0.0, -0.0, 0.0, 1.0, -1.0)) for _ in range(n)]
    raise ValueError(name)


# ----- the checker -----

class Checker:
    def __init__(self, guest):
        self.guest = guest
        self.cases = 0
        self.guard_after = True  # alternates: slice against the unmapped page after or before
        self.canary = ctypes.create_string_buffer(CANARY, WINDOW_BYTES)
        self.memcmp = ctypes.CDLL(None).memcmp
        self.memcmp.restype = ctypes.c_int
        self.memcmp.argtypes = (ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
        for window in (END_WINDOW, START_WINDOW):
            guest.view[window : window + WINDOW_BYTES] = CANARY

    def canary_intact(self, window, begin, end):
        offset = begin - window
        return self.memcmp(self.guest.host + begin, ctypes.addressof(self.canary) + offset, end - begin) == 0

    def run(self, isa, t, op, values, pivot=0, what=""):
        """Runs one kernel on values placed against a guard page; returns (result, output).
        pivot is the partitions' pivot value, or the run scans' start (forward) or lower
        limit (backward). Faults name `what` and the side the guard page was on."""
        n = len(values)
        fmt = "<%d%s" % (n, FORMAT[t])
        payload = struct.pack(fmt, *values)
        size = len(payload)
        if self.guard_after:
            window, at = END_WINDOW, END_WINDOW + WINDOW_BYTES - size
        else:
            window, at = START_WINDOW, START_WINDOW
        self.guard_after = not self.guard_after
        view = self.guest.view
        view[at : at + size] = payload
        pivot_bits = bits(t, pivot) if op in (PARTITION_LESS, PARTITION_NOT_GREATER) else pivot
        side = "after" if window == END_WINDOW else "before"
        try:
            result = self.guest.call(ISAS.index(isa), TYPES.index(t), op, at, n, pivot_bits)
        except Fault as e:
            raise Fault(f"{what}, n = {n}, unmapped page {side} the slice at {at:#x}: {e}") from None
        if not (self.canary_intact(window, window, at) and self.canary_intact(window, at + size, window + WINDOW_BYTES)):
            raise Fault(f"{what}, n = {n}: wrote outside the slice")
        out = list(struct.unpack(fmt, view[at : at + size]))
        view[at : at + size] = CANARY[at - window : at - window + size]
        self.cases += 1
        return result, out

    def check(self, ok, what):
        if not ok:
            raise Fault(what)


def same_elements(t, a, b):
    """The same multiset of bit patterns."""
    def as_bits(values):
        return sorted(struct.unpack("<%dQ" % len(values), struct.pack("<%d%s" % (len(values), FORMAT[t]), *values)))
    return as_bits(a) == as_bits(b)


def check_networks(c, isa, t, rng):
    for n in range(NETWORK_MAX + 1):
        for name in PATTERNS:
            v = make_pattern(name, t, n, rng)
            _, out = c.run(isa, t, SORT_NETWORK, v, what=f"sort_network, {name}")
            # Sorted by value (the zeros in either order), holding exactly the input's bits.
            c.check(out == sorted(v), f"sort_network: not sorted, {name}, n = {n}")
            c.check(same_elements(t, v, out), f"sort_network: elements lost or duplicated, {name}, n = {n}")


def partition_lengths():
    # Below 2 * block + lanes the kernel goes element by element; above, every remainder
    # modulo the lanes and every count of block rounds and of single vectors after them.
    lengths = list(range(0, 300))
    for base in (512, 1024, 4096):
        lengths += range(base - 9, base + 10)
    return lengths + [20011]


def check_partitions(c, isa, t, rng):
    for n in partition_lengths():
        names = PATTERNS if n < 300 else ("random", "few_distinct", "signed_zeros")
        for name in names:
            v = make_pattern(name, t, n, rng)
            pivots = [rng.choice(v)] if n else [rank_value(t, 0)]
            if n and name in ("random", "extremes"):
                pivots.append(special_values(t)[rng.randrange(len(special_values(t)))])
            for pivot in pivots:
                for op in (PARTITION_LESS, PARTITION_NOT_GREATER):
                    passes = (lambda x: x < pivot) if op == PARTITION_LESS else (lambda x: not pivot < x)
                    what = f"{'partition_less' if op == PARTITION_LESS else 'partition_not_greater'}, {name}"
                    got, out = c.run(isa, t, op, v, pivot, what=what)
                    want = sum(1 for x in v if passes(x))
                    c.check(got == want, f"{what}, n = {n}: returned {got}, {want} pass")
                    c.check(all(passes(x) for x in out[:want]) and not any(passes(x) for x in out[want:]),
                            f"{what}, n = {n}: not partitioned")
                    c.check(same_elements(t, v, out), f"{what}, n = {n}: elements lost or duplicated")


def check_scans(c, isa, t, rng):
    lengths = list(range(0, 70)) + [127, 128, 129, 1000, 1001]
    for n in lengths:
        base = sorted(make_pattern("random", t, n, rng))
        cases = [base, base[::-1], make_pattern("all_equal", t, n, rng), make_pattern("few_distinct", t, n, rng)]
        # One pair out of order (or one equal pair in a strictly descending slice) at
        # every position, so that no lane or tail element goes unread.
        step = 1 if n < 70 else 37
        for i in range(1, n, step):
            up = list(base)
            up[i - 1], up[i] = up[i], up[i - 1]
            down = base[::-1]
            down[i] = down[i - 1]
            cases += [up, down]
        for v in cases:
            got, _ = c.run(isa, t, IS_NON_DESCENDING, v, what="is_non_descending")
            want = all(not v[i] < v[i - 1] for i in range(1, n))
            c.check(got == want, f"is_non_descending: {got}, n = {n}, {v[:12]}")
            got, _ = c.run(isa, t, IS_STRICTLY_DESCENDING, v, what="is_strictly_descending")
            want = all(v[i] < v[i - 1] for i in range(1, n))
            c.check(got == want, f"is_strictly_descending: {got}, n = {n}, {v[:12]}")
        if t != "f64":
            continue
        c.check(c.run(isa, t, HAS_NAN, base, what="has_nan")[0] == 0, f"has_nan: found one, n = {n}")
        # Quiet and signalling NaNs of both signs.
        kinds = [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001, 0xFFFFFFFFFFFFFFFF]
        for i in range(0, n, step):
            v = list(base)
            v[i] = struct.unpack("<d", struct.pack("<Q", kinds[i % len(kinds)]))[0]
            c.check(c.run(isa, t, HAS_NAN, v, what="has_nan")[0] == 1, f"has_nan: missed a NaN at {i}, n = {n}")


def run_key(t, x):
    """The run scans' order from the bits: f64 in totalOrder (sign, then magnitude reversed
    under it), i64 signed, u64 unsigned."""
    b = bits(t, x)
    if t == "f64":
        magnitude = b & ((1 << 63) - 1)
        return (0, -magnitude) if b >> 63 else (1, magnitude)
    return x


def pair_holds(t, test, a, b):
    if test == 0:
        return run_key(t, a) <= run_key(t, b)
    if test == 1:
        return run_key(t, b) <= run_key(t, a)
    return bits(t, a) == bits(t, b)


def check_run_scans(c, isa, t, rng):
    if t == "f64":
        nan = lambda b: struct.unpack("<d", struct.pack("<Q", b))[0]
        pool = [nan(0xFFF8000000000000), -math.inf, -2.5, -0.0, -0.0, 0.0, 0.0, 0.0, 1.0, 3.0, math.inf,
                nan(0x7FF8000000000000)]
        puts = [nan(0xFFF8000000000000), nan(0x7FF8000000000000), nan(0x7FF0000000000001), -0.0, 0.0, -7.5]
        flat = 0.0
    else:
        pool = [rank_value(t, r) for r in range(8)] + special_values(t)
        puts = special_values(t)
        flat = rank_value(t, 5)
    # Lengths around a block of 8 pairs and one of 32; one value put in at every position.
    for n in (1, 2, 8, 9, 10, 33, 34, 41, 42, 44, 45, 65, 66, 97, 150):
        up = sorted((rng.choice(pool) for _ in range(n)), key=lambda x: run_key(t, x))
        bases = (up, up[::-1], [flat] * n)
        for at in range(0, n, 1 if n <= 45 else 5):
            for test, base in enumerate(bases):
                v = list(base)
                v[at] = puts[(at + test) % len(puts)]
                # From every start the forward scan stops at the first failing pair.
                starts = {0, rng.randrange(n)}
                for k in sorted(starts):
                    want = k
                    while want + 1 < n and pair_holds(t, test, v[want], v[want + 1]):
                        want += 1
                    what = f"run_forward {PAIR_TESTS[test]}, {v[:12]}, from {k}"
                    got, _ = c.run(isa, t, RUN_FORWARD + test, v, k, what=what)
                    c.check(got == want, f"{what}, n = {n}: {got}, want {want}")
                for s in sorted({0, rng.randrange(n)}):
                    want = n - 1
                    while want > s and pair_holds(t, test, v[want - 1], v[want]):
                        want -= 1
                    what = f"run_backward {PAIR_TESTS[test]}, {v[:12]}, down to {s}"
                    got, _ = c.run(isa, t, RUN_BACKWARD + test, v, s, what=what)
                    c.check(got == want, f"{what}, n = {n}: {got}, want {want}")


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    image = open(sys.argv[1], "rb").read()
    shim = sys.argv[2] if len(sys.argv) > 2 else None
    try:
        bochscpu = load_emulator(shim)
    except Exception as e:  # ImportError, or the shim's OSError
        print(f"SKIPPED: the emulator (bochscpu-python) cannot be loaded here: {e}")
        return SKIPPED
    guest = Guest(bochscpu, image)
    checker = Checker(guest)
    rng = random.Random(19)
    start = time.monotonic()
    for isa in ISAS:
        for t in TYPES:
            for check in (check_networks, check_partitions, check_scans, check_run_scans):
                before = checker.cases
                try:
                    check(checker, isa, t, rng)
                except Fault as e:
                    print(f"FAILED: {isa} {t}: {e}")
                    return 1
                print(f"{isa:8} {t} {check.__name__[6:]:10} {checker.cases - before:6} cases passed")
    print(f"{checker.cases} cases passed in {time.monotonic() - start:.1f} s")
    return 0


if __name__ == "__main__":
    code = main()
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(code)
