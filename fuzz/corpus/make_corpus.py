#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: fuzz/corpus/<target>/<case>.

The targets decode their input with libFuzzer's FuzzedDataProvider, which
takes every value we use from the END of the input: an integer in [lo, hi]
takes as many bytes as hi - lo needs (none when lo == hi), the first byte
taken being the most significant. So each case is written as the list of
values in the order the target takes them, and the file is that byte stream
reversed. The order is the one of fuzz_host.cpp (build_host, input::real,
input::name, consume_fp) and of each target's LLVMFuzzerTestOneInput; if
that order changes, the seeds still decode, into other host states, and
this script should follow.

Run from anywhere: python3 fuzz/corpus/make_corpus.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
POOL_WORDS = 4096
SPECIES = ["O2", "N2", "H2O", "NH3", "CO2", "CARB", "UREA"]


class Stream:
    def __init__(self):
        self.taken = bytearray()  # in the order the target takes them

    def integer(self, lo, hi, value, width=8):
        assert lo <= value <= hi, (lo, value, hi)
        span, r, n = hi - lo, value - lo, 0
        while n < width and (span >> (8 * n)) > 0:
            n += 1
        self.taken += r.to_bytes(n, "big") if n else b""

    def byte(self, value):
        self.integer(0, 255, value, 1)

    def flag(self, value):
        self.byte(1 if value else 0)

    def raw(self, value):
        self.integer(0, 2**64 - 1, value & (2**64 - 1))

    def real(self, value):
        self.byte(200)  # a raw bit pattern follows
        self.raw(struct.unpack("<Q", struct.pack("<d", value))[0])

    def word_bytes(self, text):
        """A raw name word: the 8 bytes given (blank-padded)."""
        self.raw(int.from_bytes(text.ljust(8).encode()[:8], "little"))

    def name(self, kind, species=0, *extra):
        """input::name(): kind 0..9 a species exactly; the others as there."""
        self.integer(0, 19, kind, 4)
        self.integer(0, 6, species, 4)
        if kind == 11:    # shifted right by extra[0] blanks
            self.integer(1, 8 - len(SPECIES[species]), extra[0])
        elif kind in (12, 18):  # word 2 (12) or word 1 (18): byte extra[0] set to
            self.byte(extra[1])    # extra[1]; the value is taken before the index
            self.integer(0, 7, extra[0])
        elif kind == 14:  # one letter more (extra = (True, byte)) or less
            self.flag(extra[0])
            if extra[0]:
                self.byte(extra[1])
        elif kind == 17:  # component "C<n>"
            self.integer(1, 999, extra[0], 4)
        elif kind == 19:  # two raw words
            self.word_bytes(extra[0])
            self.word_bytes(extra[1])

    def fp(self, traps=None, raised=(), rounding=0, ftz=False, daz=False):
        """consume_fp(): None is the usual environment."""
        if traps is None:
            self.integer(0, 3, 1, 4)
            return
        self.integer(0, 3, 0, 4)
        self.integer(0, 3, rounding, 4)
        self.flag(ftz)
        self.flag(daz)
        for e in ["invalid", "divbyzero", "overflow", "underflow", "inexact"]:
            self.integer(0, 2, 2 if e in traps else 1 if e in raised else 0, 4)

    def host(self, names, l_ids=61, l_mw=1203, mw=None, gibbs=None, phi=None, vl=0.03, volume=50.0):
        """build_host(): names are (kind, species, extra...) tuples or species names."""
        nc = len(names) if isinstance(names, list) else names
        names = names if isinstance(names, list) else []
        n = max(nc, 0)
        self.integer(-1, 150, nc)
        self.integer(0, POOL_WORDS - 2 * n, l_ids)
        self.integer(0, POOL_WORDS - n, l_mw)
        for entry in names:
            if isinstance(entry, str):
                self.name(0, SPECIES.index(entry))
            else:
                self.name(*entry)
        for i in range(n):
            self.flag(False)
            self.real(mw[i] if mw else 10.0 + i)
        for i in range(n):
            self.flag(False)
            self.real(gibbs[i] if gibbs else -1.0e8 * (i + 1))
            self.flag(False)
            self.real(phi[i] if phi else 1.0 + i)
        self.flag(False)
        self.real(vl)
        self.flag(False)
        self.real(volume)
        for k in range(8):
            if k != 1:
                self.raw(3000 + k)
            if k != 2:
                self.raw(7 + k)
        self.real(-1.0)
        self.real(-2.0)
        return nc

    def file(self):
        return bytes(reversed(self.taken))


def write(target, case, stream):
    d = os.path.join(HERE, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, case), "wb") as f:
        f.write(stream.file())


NAN, INF = float("nan"), float("inf")
FIVE = ["H2O", "NH3", "CO2", "CARB", "UREA"]
MW5 = [18.015, 17.031, 44.01, 78.07, 60.06]


# ---- CMPLOC: per look-up [pick?] name, vec, index, value, environment ------
def lookup(s, nc, name=None, pick=None, vec=None, traps=None, raised=()):
    if nc > 0:
        s.flag(pick is not None)
    if pick is not None:
        s.integer(1, nc, pick)
    else:
        s.name(*name)
    for i in range(max(nc, 0)):
        s.real(vec[i] if vec else 10.0 * (i + 1))
    s.raw(0xDEADBEEF)
    s.real(-99.0)
    s.fp(traps, raised)


s = Stream()
nc = s.host(FIVE, mw=MW5)
lookup(s, nc, name=(0, 4))            # CO2 at 3
lookup(s, nc, name=(0, 0))            # O2 missing: index 5, value 0.0
lookup(s, nc, pick=2)                 # NH3 by its own pair
lookup(s, nc, name=(10, 4))           # "co2"
write("cmploc", "five_components", s)

s = Stream()
nc = s.host([])
lookup(s, nc, name=(0, 3))
write("cmploc", "empty_list", s)

s = Stream()
nc = s.host(-1)
lookup(s, nc, name=(0, 6), traps=("invalid",))
write("cmploc", "negative_count", s)

s = Stream()
nc = s.host([(0, 4), (11, 4, 1), (12, 4, 0, ord("X")), (0, 4), (13, 4), (14, 5, True, ord("X")),
             (16, 0), (19, 0, "NC-FLOW", ""), (0, 4)], l_ids=0, l_mw=16)  # weights overlap the last name
lookup(s, nc, name=(0, 4), vec=[-0.0, NAN, INF, 1e-310, 0.0, -INF, 5.0, 6.0, 7.0],
       traps=("invalid", "divbyzero", "overflow"), raised=("inexact",))
lookup(s, nc, name=(11, 4, 1), vec=[float(i) for i in range(9)])
lookup(s, nc, name=(0, 5))            # CARB only as "CARBX": missing
write("cmploc", "duplicates_and_near_misses", s)

s = Stream()
nc = s.host([(17, 0, i) for i in range(1, 150)] + ["UREA"], l_ids=3796, l_mw=0)
lookup(s, nc, name=(0, 6))
write("cmploc", "longest_list", s)


# ---- USURA: per call n_present, positions and x, stream, params, rates, env
def rate_call(s, nc, positions, x, t=458.0, p=1.5e7, a=(1.0, 1.0e3), traps=None, raised=(),
              n=None):
    count = len(positions) if n is None else n
    s.flag(False)
    s.integer(-2, 110, count)
    for k in range(max(count, 0)):
        s.integer(0, 15, 1, 4)
        s.integer(-1, max(nc, 0) + 1 if nc >= 0 else 0, positions[k] if k < len(positions) else 1)
        s.flag(False)
        s.real(x[k] if k < len(x) else 0.0)
    n_stream = max(nc, 0) + 5
    stream = [1.0 * i for i in range(1, n_stream + 1)]
    if nc >= 0:
        stream[nc + 1], stream[nc + 2] = t, p
    for v in stream:
        s.real(v)
    s.real(a[0])
    s.real(a[1])
    for i in range(max(nc, 0)):
        s.real(-7.0 - i)
    s.fp(traps, raised)


G5 = [-3.0e8, -6.0e7, -4.3e8, -5.6e8, -2.0e8]
PHI5 = [0.05, 2.5, 10.0, 4.0e5, 0.01]
X5 = [0.2, 0.3, 0.1, 0.15, 0.2]

s = Stream()
nc = s.host(FIVE, mw=MW5, gibbs=G5, phi=PHI5, vl=0.03, volume=50.0)
rate_call(s, nc, [1, 2, 3, 4, 5], X5)
rate_call(s, nc, [1, 2, 3, 4], X5[:4])          # urea leaves: remembered values
rate_call(s, nc, [5, 4, 3, 2, 1], list(reversed(X5)), t=400.0, p=1.0e7)
write("usura", "worked_example", s)

s = Stream()
nc = s.host(["NH3", "CO2", "UREA", "H2O", "O2"], gibbs=[-6e7, -4.3e8, -2e8, -3e8, 0.0],
            phi=[2.5, 10.0, 0.01, 0.05, 1.0])
rate_call(s, nc, [1, 2, 3, 4], [0.3, 0.1, 0.2, 0.2], t=500.0)
rate_call(s, nc, [1, 2, 3], [-0.1, -0.0, 0.2], t=NAN)
write("usura", "carbamate_missing", s)

s = Stream()
nc = s.host([(17, 0, i) for i in range(1, 101)] + ["NH3"], l_ids=100, l_mw=400)
rate_call(s, nc, [1, 2], [0.5, 0.5])
write("usura", "count_over_capacity", s)

s = Stream()
nc = s.host(FIVE, gibbs=G5, phi=PHI5)
rate_call(s, nc, [1] * 101, [0.01] * 101)
rate_call(s, nc, [], [], n=-1)
rate_call(s, nc, [], [])
write("usura", "present_counts_out_of_range", s)

s = Stream()
nc = s.host(FIVE, gibbs=G5, phi=PHI5)
rate_call(s, nc, [1, 2, 0, 4, 5], X5)             # a position before the list
rate_call(s, nc, [1, 2, 3, 4, 6], X5)             # one past it, last in the list
rate_call(s, nc, [1, 2, 3, 4, 5], X5)             # and a good list after them
write("usura", "present_positions_outside_the_list", s)

s = Stream()
nc = s.host(FIVE, gibbs=G5, phi=[0.0, 2.5, 10.0, 0.0, 0.01], vl=0.0, volume=50.0)
rate_call(s, nc, [1, 2, 3, 4, 5], X5, p=0.0, traps=("invalid", "divbyzero", "overflow"))
rate_call(s, nc, [1, 2, 3, 4, 5], [1e-310, INF, NAN, -0.0, 5e-324], p=-1.0, a=(INF, -0.0),
          traps=("invalid", "divbyzero", "overflow", "underflow", "inexact"))
write("usura", "trapping_host_zero_volume_and_pressure", s)


# ---- UPROPU: name, n_out and positions with old values, flows, env ----------
def property_call(s, nc, positions, flows, name=None, traps=None, raised=(), olds=None):
    s.flag(name is None)
    if name is not None:
        s.name(*name)
    s.integer(0, 7, 1, 4)  # no byte changed
    s.flag(False)
    s.integer(-2, 150, len(positions))
    for k, pos in enumerate(positions):
        if isinstance(pos, tuple):    # ("raw", v) or ("any", v)
            s.integer(0, 7, 0 if pos[0] == "raw" else 1, 4)
            if pos[0] == "raw":
                s.raw(pos[1])
            else:
                s.integer(-2, nc + 2, pos[1])
        else:
            s.integer(0, 7, 2, 4)
            if nc >= 1:
                s.integer(1, nc, pos)
        s.real(olds[k] if olds else -5.0)
    for v in flows + [0.0] * (max(nc, 0) + 3 - len(flows)):
        s.flag(False)
        s.real(v)
    s.fp(traps, raised)


s = Stream()
nc = s.host(FIVE, mw=MW5)
property_call(s, nc, [1, 2, 3, 4, 5, 3, 2], [4.0, 1.0, 2.0, 3.0, 5.0])
write("upropu", "nc_flow_example", s)

s = Stream()
nc = s.host(FIVE, mw=MW5)
property_call(s, nc, [1, 2, 3], [4.0, 1.0, 2.0, 3.0, 5.0], name=(19, 0, "NC-FLOW", ""))
write("upropu", "name_in_one_word", s)

s = Stream()
nc = s.host(["NH3", "CO2", "H2O", "UREA"], mw=[17.031, 44.01, 18.015, 60.06])
property_call(s, nc, [1, 2, ("any", 0), ("any", 5), ("raw", 2**63), 4],
              [1.0, 2.0, 3.0, 4.0])
write("upropu", "carbamate_missing_bad_positions", s)

s = Stream()
nc = s.host([])
property_call(s, nc, [("any", 1)], [])
write("upropu", "empty_list", s)

s = Stream()
nc = s.host(FIVE, mw=[INF, -0.0, 1e-310, NAN, 0.0])
property_call(s, nc, [1, 2, 3, 4, 5], [0.0, INF, -INF, 1e308, 1e-320],
              traps=("invalid", "divbyzero", "overflow"), raised=("underflow",))
write("upropu", "trapping_host_odd_values", s)


# fuzz_answers: the first byte chooses the reader (fuzz_answers.cpp); the
# rest is a message of the workers as the workbench writes it
# (session/wire.h): CBOR of {"format", "kind", "body"}, a map's keys in
# order, a type's fields as a list in their order (analysis/messages.h), a
# double as a float where one holds it exactly, a NaN as its 8 bytes, most
# significant first.
class Raw:
    def __init__(self, data):
        self.data = data

    def file(self):
        return self.data


FORMAT = 1


def cbor_head(major, n):
    if n < 24:
        return bytes([major << 5 | n])
    for extra, size in ((24, "B"), (25, ">H"), (26, ">I"), (27, ">Q")):
        if n < 256 ** struct.calcsize(size):
            return bytes([major << 5 | extra]) + struct.pack(size, n)
    raise ValueError(n)


def cbor(v):
    if v is None:
        return b"\xf6"
    if v is True or v is False:
        return b"\xf5" if v else b"\xf4"
    if isinstance(v, int):
        return cbor_head(0, v) if v >= 0 else cbor_head(1, -1 - v)
    if isinstance(v, float):
        if v != v:
            return cbor(struct.pack(">d", v))
        if v in (INF, -INF):
            return b"\xf9" + (b"\x7c\x00" if v > 0 else b"\xfc\x00")
        if struct.unpack("<f", struct.pack("<f", v))[0] == v:
            return b"\xfa" + struct.pack(">f", v)
        return b"\xfb" + struct.pack(">d", v)
    if isinstance(v, bytes):
        return cbor_head(2, len(v)) + v
    if isinstance(v, str):
        b = v.encode("latin-1")
        return cbor_head(3, len(b)) + b
    if isinstance(v, list):
        return cbor_head(4, len(v)) + b"".join(cbor(x) for x in v)
    if isinstance(v, dict):
        return cbor_head(5, len(v)) + b"".join(cbor(k) + cbor(v[k]) for k in sorted(v))
    raise TypeError(v)


def message(kind, body):
    return cbor({"format": FORMAT, "kind": kind, "body": body})


def sealed(chunk, index, body, plan="plan"):
    return message("sealed answer", [False, plan, chunk, index, body])


def chunk_end(chunk, count, plan="plan"):
    return message("sealed answer", [True, plan, chunk, count, ""])


def counts(failures=0, first=""):
    return [10, failures, first]  # evaluations, failures, first_failure


# index, settings, ok, failure, details, values, conversion_defined,
# max_balance_residual, rate_calls, bands, band_unsolved
point = [5, [1.0, 2.0], True, "", "", [0.5], True, 1e-9, 40, [], 0]
# solves, fitted, failure, a2, lower, upper, se_ln, chi_square, dof,
# conversions, predicted, equilibrium
window = [12, True, "", 0.16, 0.15, None, 0.02, 3.2, 4, True, 0.5, 0.6]
unfitted = [12, False, "no fit", NAN, None, None, NAN, NAN, 0, False, NAN, NAN]
# volume_m3, temperature_K, n, co2_conversion, balance_residual, iterations
station = [0.0, 450.0, [1.0] * 7, NAN, 0.0, 3]
# a1, a2_best, delta_best, a2_low, a2_high, open_low, open_high
slice_ = [1.0, 0.2, 0.0, 0.1, 0.3, False, True]
# from, to, usable, converged, chi_square, objective, iterations,
# model_failures, message
start = [[1.0, 0.2], [1.1, 0.25], True, True, 2.0, 2.0, 9, 0, "converged"]
answers = {
    "task": b"\x00" + b";~".join(b"|~".join([sealed(c, 0, "abc"), sealed(c, 1, "def"), chunk_end(c, 2)]) for c in (1, 2)),
    "point": b"\x01" + message("study point", point),
    "window": b"\x02" + message("monitor window", window),
    "window_unfitted": b"\x02" + message("monitor window", unfitted),
    "candidate": b"\x03" + message("design candidate", [True, "", [0.5] * 5, [[0.01] * 5, [0.02] * 5], 30]),
    "piece": b"\x04" + message("estimate piece", [message("refit", [0.1, -2.0]).decode("latin-1"), 7]),
    "start": b"\x05" + message("estimate start", [start, counts()]),
    "refit": b"\x06" + message("refit", [0.1, -2.0]),
    "refit_none": b"\x06" + message("refit", None),
    "map_row": b"\x07" + message("profile map row", [[1.0, 2.0, 3.0, NAN], counts()]),
    "scan": b"\x08" + message("profile scan", [[[1.0, 2.0, 3.0]], [0.0, 1.0], counts(1, "no solution")]),
    "crossing": b"\x09" + message("profile crossing", [-0.0, counts()]),
    "region": b"\x0a" + message("region piece", [True, [slice_, slice_], counts()]),
    "prediction": b"\x0b" + message("run prediction", [[True, [0.5] * 5, "", ""], [station, station]]),
    "number": b"\x0c" + message("number", 1e-310),
    "runs_model": b"\x0d" + message("runs model", [["{}"], [[station]]]),
    "seal": b"\x0e" + sealed(0, 0, message("study point", point).decode("latin-1")),
    "deep": b"\x02\xa3" + cbor("format") + cbor(FORMAT) + cbor("kind") + cbor("monitor window") + cbor("body")
    + b"\x81" * 64 + b"\x00",
}
for old in os.listdir(os.path.join(HERE, "answers")):
    os.remove(os.path.join(HERE, "answers", old))
for case, data in answers.items():
    write("answers", case, Raw(data))
