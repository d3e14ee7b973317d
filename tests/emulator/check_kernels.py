"""Both vector kernel tables (AVX2 and AVX-512) of this build, run on an emulated x86-64
processor that executes AVX-512 whatever the host runs, against results worked out here.

Usage: check_kernels.py IMAGE [GLIBC_SHIM]

IMAGE is the flat image of entry.cpp and the build's kernel objects (CMakeLists.txt), mapped at
IMAGE_BASE and entered at its first byte. Every kernel runs on every length it treats
differently and on named patterns, on slices that end right before an unmapped page or start
right after one (a read or write past either end faults), in windows of canaries (a stray write
shows). Results are compared as bit patterns: a -0.0 duplicated over a +0.0 is a fault.
Exits 0 when all cases pass, 1 on the first fault, 77 (skipped) when the emulator cannot be
loaded. The emulator may crash at interpreter exit, so the process leaves with os._exit.
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
WINDOW_BYTES = 48 * PAGE
END_WINDOW = 0x800000  # mapped [END_WINDOW, END_WINDOW + WINDOW_BYTES); the page after is not
START_WINDOW = 0xA01000  # the page before is not mapped
MEMORY_BYTES = 0xC00000
CANARY = bytes((0xA5 ^ (i * 29)) & 0xFF for i in range(WINDOW_BYTES))

ISAS, TYPES, FORMAT = ("AVX2", "AVX-512"), ("f64", "i64", "u64"), {"f64": "d", "i64": "q", "u64": "Q"}
# entry.cpp's numbering: six kernels, then a forward and a backward run scan per pair test.
PARTITION_LESS, PARTITION_NOT_GREATER, SORT_NETWORK, IS_NON_DESCENDING, IS_STRICTLY_DESCENDING, HAS_NAN = range(6)
PAIR_TESTS = ("ascending", "descending", "equal")
RUN_FORWARD, RUN_BACKWARD = 6, 6 + len(PAIR_TESTS)
CLASSIFY = RUN_BACKWARD + len(PAIR_TESTS)
CLASSIFY_MAX, CLASSIFY_TIE = 15, 0xFF  # kernels.hpp
NETWORK_MAX = {"AVX2": 128, "AVX-512": 256}  # each table's kNetworkMax


class Fault(Exception):
    pass


def expect(ok, what):
    if not ok:
        raise Fault(what)


class Guest:
    """An emulated processor in 64-bit mode with the image and stack mapped, calling the
    image's entry with up to six integer arguments."""

    def __init__(self, bochscpu, image):
        self.memory = mmap.mmap(-1, MEMORY_BYTES)
        self.view = view = memoryview(self.memory)
        self.host = host = ctypes.addressof(ctypes.c_char.from_buffer(self.memory))
        mapped = [*range(IMAGE_BASE, IMAGE_BASE + len(image), PAGE), *range(STACK_LOW, STACK_TOP, PAGE),
                  *range(END_WINDOW, END_WINDOW + WINDOW_BYTES, PAGE), *range(START_WINDOW, START_WINDOW + WINDOW_BYTES, PAGE)]
        view[IMAGE_BASE:IMAGE_BASE + len(image)] = image
        for page in [PML4, PDPT, PD] + [PT0 + i * PAGE for i in range(MEMORY_BYTES >> 21)] + mapped:
            bochscpu.memory.page_insert(page, host + page)

        def entry(at, address, nx=False):  # present, writable, user; data and stack not executable
            view[at:at + 8] = struct.pack("<Q", address | 7 | (1 << 63 if nx else 0))
        entry(PML4, PDPT)
        entry(PDPT, PD)
        for i in range(MEMORY_BYTES >> 21):
            entry(PD + 8 * i, PT0 + i * PAGE)
        for page in mapped:
            entry(PT0 + (page >> 12) * 8, page, nx=page >= STACK_LOW)

        state = self.state = bochscpu.State()
        state.cr0 = (1 << 31) | (1 << 16) | (1 << 5) | (1 << 4) | (1 << 1) | 1  # PG WP NE ET MP PE
        state.cr3 = PML4
        state.cr4 = (1 << 18) | (1 << 10) | (1 << 9) | (1 << 5)  # OSXSAVE OSXMMEXCPT OSFXSR PAE
        state.efer = (1 << 11) | (1 << 10) | (1 << 8)  # NXE LMA LME
        # x87, SSE, AVX and the three AVX-512 states: without all of them (or without OSXSAVE)
        # the first EVEX instruction is undefined.
        state.xcr0, state.mxcsr, state.rflags = 0xE7, 0x1F80, 0x2
        code, data = bochscpu.Segment(), bochscpu.Segment()
        code.present = data.present = True
        code.selector, data.selector = 0x33, 0x2B  # ring 3
        code.attr = 0x20FB  # present, DPL 3, code, executable/readable/accessed, long mode
        data.attr = 0xC0F3  # present, DPL 3, data, writable/accessed, 32-bit, 4 KiB granular
        code.limit = data.limit = 0xFFFFFFFF
        state.cs, state.ss, state.ds, state.es, state.fs, state.gs = code, data, data, data, data, data

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
            self.exception = vector
        session.stop()

    def call(self, *args):
        """Runs the entry with args; returns rax, or raises Fault with what went wrong."""
        state = self.state
        state.rip, state.rsp = IMAGE_BASE, STACK_TOP - 8  # as after a call: the return address on top
        self.view[STACK_TOP - 8:STACK_TOP] = struct.pack("<Q", RETURN_ADDRESS)
        for name, value in zip(("rdi", "rsi", "rdx", "rcx", "r8", "r9"), args):
            setattr(state, name, value)
        cpu = self.session.cpu
        cpu.set_state(state)
        self.exception = None
        self.session.run(self.hooks)
        if self.exception == 14 and cpu.rip == RETURN_ADDRESS:
            return cpu.rax
        where = f"rip {cpu.rip:#x} (image offset {cpu.rip - IMAGE_BASE:#x})"
        raise Fault(f"page fault at address {cpu.cr2:#x}, {where}" if self.exception == 14
                    else f"exception {self.exception}, {where}")


# ----- values and patterns -----

def bits(t, x):
    return struct.unpack("<Q", struct.pack("<" + FORMAT[t], x))[0]


def same_elements(t, a, b):
    return sorted(bits(t, x) for x in a) == sorted(bits(t, x) for x in b)


SPECIALS = {
    "f64": [-math.inf, math.inf, -0.0, 0.0, 5e-324, -5e-324, 1.7976931348623157e308, -1.7976931348623157e308,
            2.2250738585072014e-308, 1.0, -1.0],
    "i64": [-(1 << 63), (1 << 63) - 1, 0, 1, -1, 1 << 56, -(1 << 56)],
    "u64": [0, 1, (1 << 64) - 1, 1 << 63, (1 << 63) - 1, (1 << 63) + 1],
}
# Quiet and signalling NaNs of both signs.
NANS = list(struct.unpack("<4d", struct.pack("<4Q", 0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001,
                                              0xFFFFFFFFFFFFFFFF)))


def random_value(t, rng):
    if t == "f64":
        return math.ldexp(rng.uniform(-1.0, 1.0), rng.randrange(-40, 40))
    return rng.randrange(-(1 << 63), 1 << 63) if t == "i64" else rng.randrange(1 << 64)


def rank_value(t, r):
    """Small ranks, in order; u64 around 2^63, where a signed compare of unsigned lanes errs."""
    return {"f64": (r - 4) * 0.5, "i64": r - 4, "u64": (1 << 63) + r - 4}[t]


PATTERNS = ("random", "sorted", "reversed", "all_equal", "few_distinct", "organ_pipe", "extremes", "signed_zeros")


def make_pattern(name, t, n, rng):
    if name in ("random", "sorted", "reversed"):
        v = [random_value(t, rng) for _ in range(n)]
        return v if name == "random" else sorted(v, reverse=name == "reversed")
    if name == "all_equal":
        return [random_value(t, rng)] * n
    if name == "organ_pipe":
        return [rank_value(t, min(i, n - i)) for i in range(n)]
    if name == "extremes":
        return [rng.choice(SPECIALS[t]) if rng.randrange(3) else random_value(t, rng) for _ in range(n)]
    if name == "signed_zeros" and t == "f64":
        values = (-0.0, 0.0, -0.0, 0.0, 1.0, -1.0)
    else:  # few_distinct; for f64 both zeros among them: equal to comparisons, not in bits
        values = [rank_value(t, r) for r in range(6)] + ([-0.0, 0.0] if t == "f64" else [])
    return [rng.choice(values) for _ in range(n)]


# ----- the checks -----

class Checker:
    def __init__(self, guest):
        self.guest, self.cases = guest, 0
        self.guard_after = True  # alternates: slice against the unmapped page after or before
        for window in (END_WINDOW, START_WINDOW):
            guest.view[window:window + WINDOW_BYTES] = CANARY
        canary = ctypes.create_string_buffer(CANARY, WINDOW_BYTES)
        memcmp = ctypes.CDLL(None).memcmp
        memcmp.argtypes = (ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
        self.canary_intact = lambda window: memcmp(guest.host + window, ctypes.addressof(canary), WINDOW_BYTES) == 0

    def run(self, isa, t, op, values, arg=0, what=""):
        """Runs one kernel on values placed against a guard page; returns (result, output).
        arg is the partitions' pivot value, or the run scans' start (forward) or lower limit
        (backward). Faults name `what` and the side the guard page was on."""
        n, fmt = len(values), "<%d%s" % (len(values), FORMAT[t])
        payload = struct.pack(fmt, *values)
        window = END_WINDOW if self.guard_after else START_WINDOW
        at = window + WINDOW_BYTES - len(payload) if self.guard_after else window
        self.guard_after = not self.guard_after
        view = self.guest.view
        view[at:at + len(payload)] = payload
        try:
            result = self.guest.call(ISAS.index(isa), TYPES.index(t), op, at, n,
                                     bits(t, arg) if op in (PARTITION_LESS, PARTITION_NOT_GREATER) else arg)
        except Fault as e:
            side = "after" if window == END_WINDOW else "before"
            raise Fault(f"{what}, n = {n}, unmapped page {side} the slice at {at:#x}: {e}") from None
        out = list(struct.unpack(fmt, view[at:at + len(payload)]))
        view[at:at + len(payload)] = CANARY[at - window:at - window + len(payload)]
        # With the slice restored, the whole window must be canary again.
        expect(self.canary_intact(window), f"{what}, n = {n}: wrote outside the slice")
        self.cases += 1
        return result, out


def check_networks(c, isa, t, rng):
    for n in range(NETWORK_MAX[isa] + 1):
        for name in PATTERNS:
            v = make_pattern(name, t, n, rng)
            _, out = c.run(isa, t, SORT_NETWORK, v, what=f"sort_network, {name}")
            # Sorted by value (the zeros in either order), holding exactly the input's bits.
            expect(out == sorted(v) and same_elements(t, v, out), f"sort_network: not sorted or not the input, {name}, n = {n}")


def check_partitions(c, isa, t, rng):
    # Below 2 * block + lanes the kernel goes element by element; above, every remainder
    # modulo the lanes and every count of block rounds and of single vectors after them.
    for n in [*range(300), *range(503, 522), *range(1015, 1034), *range(4087, 4106), 20011]:
        for name in PATTERNS if n < 300 else ("random", "few_distinct", "signed_zeros"):
            v = make_pattern(name, t, n, rng)
            pivots = [rng.choice(v)] if n else [rank_value(t, 0)]
            if n and name in ("random", "extremes"):
                pivots.append(rng.choice(SPECIALS[t]))
            for pivot in pivots:
                for op, passes in ((PARTITION_LESS, lambda x: x < pivot), (PARTITION_NOT_GREATER, lambda x: not pivot < x)):
                    what = f"{('partition_less', 'partition_not_greater')[op]}, {name}"
                    got, out = c.run(isa, t, op, v, pivot, what=what)
                    want = sum(1 for x in v if passes(x))
                    expect(got == want, f"{what}, n = {n}: returned {got}, {want} pass")
                    expect(all(passes(x) for x in out[:want]) and not any(passes(x) for x in out[want:]),
                           f"{what}, n = {n}: not partitioned")
                    expect(same_elements(t, v, out), f"{what}, n = {n}: elements lost or duplicated")


def check_scans(c, isa, t, rng):
    for n in [*range(70), 127, 128, 129, 1000, 1001]:
        base = sorted(make_pattern("random", t, n, rng))
        cases = [base, base[::-1], make_pattern("all_equal", t, n, rng), make_pattern("few_distinct", t, n, rng)]
        # One pair out of order (or one equal pair in a strictly descending slice) at every
        # position, so that no lane or tail element goes unread.
        step = 1 if n < 70 else 37
        for i in range(1, n, step):
            up, down = list(base), base[::-1]
            up[i - 1], up[i] = up[i], up[i - 1]
            down[i] = down[i - 1]
            cases += [up, down]
        for v in cases:
            for op, kernel, pair in ((IS_NON_DESCENDING, "is_non_descending", lambda a, b: not b < a),
                                     (IS_STRICTLY_DESCENDING, "is_strictly_descending", lambda a, b: b < a)):
                got, _ = c.run(isa, t, op, v, what=kernel)
                expect(got == all(pair(v[i - 1], v[i]) for i in range(1, n)), f"{kernel}: {got}, n = {n}, {v[:12]}")
        if t == "f64":
            expect(c.run(isa, t, HAS_NAN, base, what="has_nan")[0] == 0, f"has_nan: found one, n = {n}")
            for i in range(0, n, step):
                v = list(base)
                v[i] = NANS[i % len(NANS)]
                expect(c.run(isa, t, HAS_NAN, v, what="has_nan")[0] == 1, f"has_nan: missed a NaN at {i}, n = {n}")


def order_key(t, x):
    """The run scans' order from the bits as a signed integer: f64 in totalOrder (negatives
    with all but the sign bit flipped), i64 signed, u64 unsigned."""
    if t != "f64":
        return x
    b = bits(t, x)
    return b if b < 1 << 63 else (b ^ ((1 << 63) - 1)) - (1 << 64)


def classify_key(t, x):
    """NumPy's order as the classification's signed keys: -0.0 as +0.0, NaNs the largest."""
    return (1 << 63) - 1 if t == "f64" and math.isnan(x) else order_key(t, x + 0)


def check_classify(c, isa, t, rng):
    # Splitters, their count and the ids in the stack's unused low end; the bytes after the
    # ids must stay as they were.
    block = STACK_LOW
    ids_at = block + 8 * (CLASSIFY_MAX + 2)
    pool = SPECIALS[t] + (NANS if t == "f64" else [])
    for n in [*range(40), 63, 64, 65, 1000, 1001]:
        for name in ("random", "few_distinct", "extremes", "signed_zeros"):
            v = make_pattern(name, t, n, rng)
            if t == "f64" and n:
                v[rng.randrange(n)] = rng.choice(NANS)
            k = 1 + rng.randrange(CLASSIFY_MAX)
            keys = sorted(classify_key(t, rng.choice(v) if n and rng.randrange(2) else rng.choice(pool)) for _ in range(k))
            padded = keys + [(1 << 63) - 1] * (CLASSIFY_MAX + 1 - k)
            view = c.guest.view
            view[block:ids_at] = struct.pack("<%dqQ" % (CLASSIFY_MAX + 1), *padded, k)
            view[ids_at:ids_at + n + 64] = b"\x5a" * (n + 64)
            what = f"classify, {name}, k = {k}"
            c.run(isa, t, CLASSIFY, v, block, what=what)
            got = bytes(view[ids_at:ids_at + n + 64])
            for i, x in enumerate(v):
                key = classify_key(t, x)
                want = CLASSIFY_TIE if key in keys else sum(1 for s in keys if s < key)
                expect(got[i] == want, f"{what}, n = {n}: id {got[i]} at {i} ({x!r}), want {want}")
            expect(got[n:] == b"\x5a" * 64, f"{what}, n = {n}: wrote past the ids")


def check_run_scans(c, isa, t, rng):
    def holds(test, a, b):  # the pair test (ascending, descending or equal) on (a, b)
        return bits(t, a) == bits(t, b) if test == 2 else order_key(t, (a, b)[test]) <= order_key(t, (b, a)[test])

    if t == "f64":
        pool = [NANS[1], -math.inf, -2.5, -0.0, -0.0, 0.0, 0.0, 0.0, 1.0, 3.0, math.inf, NANS[0]]
        puts, flat = [NANS[1], NANS[0], NANS[2], -0.0, 0.0, -7.5], 0.0
    else:
        pool, puts, flat = [rank_value(t, r) for r in range(8)] + SPECIALS[t], SPECIALS[t], rank_value(t, 5)
    # Lengths around a block of 8 pairs and one of 32; one value put in at every position.
    for n in (1, 2, 8, 9, 10, 33, 34, 41, 42, 44, 45, 65, 66, 97, 150):
        up = sorted((rng.choice(pool) for _ in range(n)), key=lambda x: order_key(t, x))
        for at in range(0, n, 1 if n <= 45 else 5):
            for test, base in enumerate((up, up[::-1], [flat] * n)):
                v = list(base)
                v[at] = puts[(at + test) % len(puts)]
                # The forward scan from k stops before the first failing pair (v[i - 1], v[i])
                # with i > k; the backward one from the end down to s at the last, if above s.
                fails = [i for i in range(1, n) if not holds(test, v[i - 1], v[i])]
                starts, limits = sorted({0, rng.randrange(n)}), sorted({0, rng.randrange(n)})
                scans = [("forward", RUN_FORWARD, k, min([n, *(i for i in fails if i > k)]) - 1) for k in starts]
                scans += [("backward", RUN_BACKWARD, s, max([s, *fails])) for s in limits]
                for way, op, arg, want in scans:
                    what = f"run_{way} {PAIR_TESTS[test]}, {v[:12]}, {'from' if op == RUN_FORWARD else 'down to'} {arg}"
                    got, _ = c.run(isa, t, op + test, v, arg, what=what)
                    expect(got == want, f"{what}, n = {n}: {got}, want {want}")


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    image = open(sys.argv[1], "rb").read()
    try:  # the shim supplies what an older C library lacks
        if len(sys.argv) > 2 and not hasattr(ctypes.CDLL(None), "__isoc23_strtoull"):
            ctypes.CDLL(sys.argv[2], mode=os.RTLD_GLOBAL | os.RTLD_NOW)
        import bochscpu
        import bochscpu.memory
    except Exception as e:  # ImportError, or the shim's OSError
        print(f"SKIPPED: the emulator (bochscpu-python) cannot be loaded here: {e}")
        return SKIPPED
    checker = Checker(Guest(bochscpu, image))
    rng = random.Random(19)
    start = time.monotonic()
    for isa in ISAS:
        for t in TYPES:
            # The AVX-512 table takes AVX2's order, run and NaN scans (simd/dispatch.cpp; its NaN scan in kernels_avx512.cpp).
            checks = (check_networks, check_partitions) + ((check_classify,) if t != "u64" else ())
            for check in checks + ((check_scans, check_run_scans) if isa == "AVX2" else ()):
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
