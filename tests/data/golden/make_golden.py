#!/usr/bin/env python3
"""Writes the whole-run cases that tests/test_golden_runs.cpp checks byte for byte.

Each case is a folder holding a working directory for one run (DATA/KVR13INH.DRT or
DATA/KVR13ING.DRT, data/Kestrane.ini), the choice of the run (choice.txt) and the coefficient
files that the run must write (expected/).

The expected numbers are worked out here without the program's code and by other means:
  * the slopes of the monotone interpolant (Fritsch and Carlson, with Brodlie's interior
    formula) in exact rational arithmetic;
  * every integral from 0 to T by Simpson's rule over each stretch between the breakpoints of
    the piecewise cubic (0, T and the table times in between), with the cubic of the stretch
    evaluated directly from its Hermite form. Simpson's rule is exact for a cubic, so in
    rational arithmetic the integral is exact;
  * the composite "Lung" from the single-precision weights, exactly.
The program computes in binary floating point, so its results differ from these exact values
by rounding. For these tables the difference stays below a relative 1e-9 (the largest come
from end pieces extended far beyond a short table, where the closed form of the integral
loses digits to cancellation); the test allows 1e-8 when it compares the program's
coefficients with expected/coefficients.txt, the exact values to 17 digits.
Before a number is written to a coefficient file it is narrowed to 32 bits (relative change at
most 6e-8) and rounded to three significant digits. The script therefore refuses any expected
coefficient that lies within a relative 1e-5 of a rounding boundary of three significant
digits: every printed digit is then the same for the exact value and for the program's.

Usage: python3 tests/data/golden/make_golden.py
It rewrites every case folder next to it; review the difference with git before committing.
"""

import math
import os
import shutil
import struct
from fractions import Fraction as Q

HERE = os.path.dirname(os.path.abspath(__file__))
MARGIN = Q(1, 10**5)
# Rates times round integration times easily land exactly on a boundary (3.65E-16 x 1825 is
# 6.66125E-13, but 1.40E-16 x 1825 is 2.555E-13). A record where that happens has all its
# rates scaled by the next of these factors, until none of its coefficients is near one.
FACTORS = [1.0, 1.013, 1.029, 1.047, 1.061, 1.083, 1.097]


class NearBoundary(Exception):
    pass


AGE_GROUPS = [("Infant  ", 100), ("1 y-old ", 365), ("5 y-old ", 1825),
              ("10 y-old", 3650), ("15 y-old", 5475), ("Adult   ", 7300)]

# 29 region names. Two are longer than the 18 columns of a heading and are cut there.
REGION_NAMES = [
    "Adrenals", "Bladder-Wall", "Bladder-Contents", "Bone-Surface", "Brain", "Breast",
    "Stomach-Wall", "Stomach-Contents", "SI-Wall", "SI-Contents", "ULI-Wall", "ULI-Contents",
    "LLI-Wall", "LLI-Contents", "BB-Basal", "BB-Secretory", "bb-Secretory",
    "Alveolar-Interstitium", "Kidneys", "Liver", "Muscle", "Ovaries", "Pancreas",
    "Red-Marrow", "Skin", "Spleen", "Testes", "Thymus", "Thyroid"]
assert len(REGION_NAMES) == 29
LUNG = 30


def f32(x):
    """x narrowed to 32-bit floating point (to nearest, ties to even)."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


# The single-precision weights of the composite "Lung", as exact fractions.
W1 = Q(f32(0.1665))
W2 = Q(f32(0.333))


# ---------------------------------------------------------------- the interpolant, exactly

def sign_product(a, b):
    if a == 0 or b == 0:
        return 0
    return 1 if (a > 0) == (b > 0) else -1


def slopes(x, f):
    """Fritsch-Carlson slopes with Brodlie's interior weights, in rational arithmetic."""
    n = len(x)
    assert n >= 2 and all(x[i] < x[i + 1] for i in range(n - 1))
    h = [x[i + 1] - x[i] for i in range(n - 1)]
    s = [(f[i + 1] - f[i]) / h[i] for i in range(n - 1)]
    if n == 2:
        return [s[0], s[0]]
    d = [Q(0)] * n
    # End points: the three-point formula, then kept from pointing against the first or last
    # secant and, where the data turn next to the end, kept within three times that secant.
    d[0] = ((2 * h[0] + h[1]) * s[0] - h[0] * s[1]) / (h[0] + h[1])
    if sign_product(d[0], s[0]) <= 0:
        d[0] = Q(0)
    elif sign_product(s[0], s[1]) < 0 and abs(d[0]) > abs(3 * s[0]):
        d[0] = 3 * s[0]
    d[-1] = ((2 * h[-1] + h[-2]) * s[-1] - h[-1] * s[-2]) / (h[-1] + h[-2])
    if sign_product(d[-1], s[-1]) <= 0:
        d[-1] = Q(0)
    elif sign_product(s[-2], s[-1]) < 0 and abs(d[-1]) > abs(3 * s[-1]):
        d[-1] = 3 * s[-1]
    # Interior points: a weighted harmonic mean of the two secants where the data go on in
    # the same direction, zero at an extremum or next to a flat interval.
    for i in range(1, n - 1):
        a, b = s[i - 1], s[i]
        if sign_product(a, b) > 0:
            hs = h[i - 1] + h[i]
            w1 = (hs + h[i - 1]) / (3 * hs)
            w2 = (hs + h[i]) / (3 * hs)
            # a weighted harmonic mean: 1/d = w1/b + w2/a
            d[i] = a * b / (w1 * a + w2 * b)
    return d


def cubic_value(x1, x2, f1, f2, d1, d2, t):
    """The Hermite cubic through (x1, f1, d1) and (x2, f2, d2), at t (also outside)."""
    h = x2 - x1
    u = (t - x1) / h
    h00 = 2 * u**3 - 3 * u**2 + 1
    h10 = u**3 - 2 * u**2 + u
    h01 = -2 * u**3 + 3 * u**2
    h11 = u**3 - u**2
    return h00 * f1 + h10 * h * d1 + h01 * f2 + h11 * h * d2


def integral_0_to(T, x, f, d):
    """Integral from 0 to T of the interpolant, extended by its end pieces outside the table."""
    n = len(x)
    if T == 0:
        return Q(0)
    lo, hi = min(Q(0), T), max(Q(0), T)
    cuts = sorted({lo, hi} | {xi for xi in x if lo < xi < hi})
    total = Q(0)
    for a, b in zip(cuts, cuts[1:]):
        c = (a + b) / 2
        if c <= x[1] or n == 2:
            i = 0
        elif c >= x[-2]:
            i = n - 2
        else:
            i = max(k for k in range(n - 1) if x[k] <= c)
        p = lambda t: cubic_value(x[i], x[i + 1], f[i], f[i + 1], d[i], d[i + 1], t)
        total += (b - a) / 6 * (p(a) + 4 * p(c) + p(b))
    return total if T > 0 else -total


# ---------------------------------------------------------------- number formatting

def boundary_margin(v, digits):
    """Relative distance of the exact value v from the nearest rounding boundary."""
    if v == 0:
        return Q(1)
    a = abs(v)
    # scale so that the kept digits are the integer part
    e = math.floor(math.log10(a)) - (digits - 1)
    scaled = a / Q(10) ** e
    while scaled >= 10**digits:
        scaled /= 10
    while scaled < 10**(digits - 1):
        scaled *= 10
    frac = scaled - math.floor(scaled)
    return abs(frac - Q(1, 2)) / scaled


def field(v, digits):
    """A number as the mask writes it: the 32-bit value, blank or minus, digits, E, exponent."""
    x = f32(float(v))
    if x == 0:
        x = 0.0  # no minus for a negative zero
    return "% .*E" % (digits - 1, x)


def coefficient_field(v):
    if boundary_margin(v, 3) < MARGIN:
        raise NearBoundary(v)
    return field(v, 3)


def center_text(s, w):
    if len(s.lstrip(" ")) >= w:
        return s[:w]
    a = max(int((w - len(s)) / 2), 0)
    t = " " * a + s
    return t + " " * max(w - len(t), 0)


# ---------------------------------------------------------------- file layouts

def number_text(v, width):
    """A rate or time as the data file writes it, 3 significant digits."""
    s = "%.2E" % v
    assert len(s) <= width
    return s.rjust(width)


class Record:
    """One nuclide record. `code` is the table code as written in the file; `rates` gives the
    rate of a table, region column and time point before it is written with 3 digits."""

    def __init__(self, nuclide, age, tag, code, p, times, rates):
        self.nuclide, self.age, self.tag, self.code, self.p = nuclide, age, tag, code, p
        self.times = times  # texts of 9 characters or less
        self.rates = rates  # function (table 0 low / 1 high, column, time index) -> float
        self.factor = FACTORS[0]

    def rate(self, tab, k, i):
        return self.rates(tab, k, i, self.factor)

    def header(self, data_set):
        n = len(self.times)
        if data_set == "h":
            # 1-7 name, 9-13 age, 19 class, 29-31 N, 33 P, 35 code; the rest is not read
            line = "%-7s %5d%5s%s%9s%3d %d %s" % (self.nuclide, self.age, " 1.00", self.tag,
                                                " 5.0E+00 ", n, self.p, self.code)
            assert line[18] == self.tag and line.index(self.code, 34) == 34
        else:
            # 1-7 name, 9-13 age, 14-20 f1, 22-24 N, 26 P, 28 code
            line = "%-7s %5d%7s %3d %d %s" % (self.nuclide, self.age, self.tag, n, self.p,
                                              self.code)
            assert line[13:20] == self.tag and line.index(self.code, 27) == 27
        return line

    def data_lines(self):
        lines = []
        for i, t in enumerate(self.times):
            tables = [0, 1] if self.p == 2 else [0 if self.code.upper() == "L" else 1]
            for tab in tables:
                lines.append(number_text(float(t), 9) + "".join(
                    number_text(self.rate(tab, k, i), 10) for k in range(1, 30)))
        return lines

    def value(self, tab, region, i):
        """The value the program reads for a selected region: exact decimal of the file."""
        def column(k):
            return Q(number_text(self.rate(tab, k, i), 10).strip())
        if region == LUNG:
            return W1 * column(15) + W1 * column(16) + W2 * column(17) + W2 * column(18)
        return column(region)


# The significant parts of the integration times of the cases: a constant rate c gives c x T.
TIME_DIGITS = (1, 3, 5, 365, 1825)


def tie_free_constant(v):
    """The nearest 3-digit value above v whose products with the integration times never
    end exactly on a rounding boundary of three digits."""
    e = math.floor(math.log10(v)) - 2
    m = round(v / 10.0**e)
    while any(boundary_margin(Q(m * t), 3) < MARGIN for t in TIME_DIGITS):
        m += 1
    return m * 10.0**e


def decay(scale, tau1, tau2, share):
    """Rates of a sum of two decaying exponentials."""
    return lambda t: scale * (share * math.exp(-t / tau1) + (1 - share) * math.exp(-t / tau2))


def mixed_rates(seed):
    """Rates for every column: each column decays with its own time constants; some columns
    rise first, some fall to zero and stay there, some are constant or linear in time."""
    def rates(tab, k, i, t, factor):
        scale = 10.0 ** (-(8 + (k * 7 + seed * 3) % 9)) * (1.07 + 0.37 * ((k + seed) % 5))
        scale *= factor * (2.3 if tab == 1 else 1.0)
        kind = (k + seed) % 6
        if kind == 0:   # constant
            return tie_free_constant(scale)
        if kind == 1:   # straight line, increasing
            return scale * (1.0 + 0.01 * t)
        if kind == 2:   # falls to zero and stays there
            return 0.0 if i >= 3 else scale * (3 - i)
        if kind == 3:   # rises, then decays
            return scale * (1.0 - math.exp(-t / 2.0)) * math.exp(-t / (40.0 + k))
        return decay(scale, 1.5 + k % 4, 300.0 + 40 * k, 0.6)(t)
    return rates


def tabulated(times, seed):
    gen = mixed_rates(seed)
    return lambda tab, k, i, factor: gen(tab, k, i, float(times[i]), factor)


# ---------------------------------------------------------------- expected rows

def coefficients(rec, regions, T):
    """coef[t][j][m] of one processed record, exactly."""
    n = len(rec.times)
    x = [Q(number_text(float(t), 9).strip()) for t in rec.times]
    code = rec.code.upper()
    carried = [rec.p == 2 or code == "L", rec.p == 2 or code != "L"]
    # Blanks after the letter do not count in the choice of the tables to integrate.
    integrate = [code.rstrip(" \t") in ("L", "B"), code.rstrip(" \t") in ("H", "B")]
    coef = [[[Q(0)] * len(T) for _ in regions] for _ in range(2)]
    for tab in range(2):
        for j, r in enumerate(regions):
            if n == 1:
                v = rec.value(tab, r, 0) if carried[tab] else Q(0)
                coef[tab][j] = [v] * len(T)
            elif integrate[tab]:
                f = [rec.value(tab, r, i) for i in range(n)]
                d = slopes(x, f)
                coef[tab][j] = [integral_0_to(t, x, f, d) for t in T]
    return coef


def shares_of(rec, regions, T):
    """share[tab, j, m] of every integrated coefficient, exactly: the part inside is the
    integral over [max(0, x1), min(T, xN)], the part outside the rest of the exact coefficient,
    and the share |outside| / (|inside| + |outside|) (0 when both are 0)."""
    n = len(rec.times)
    if n < 2:
        return {}, {}
    x = [Q(number_text(float(t), 9).strip()) for t in rec.times]
    code = rec.code.upper().rstrip(" \t")
    integrate = [code in ("L", "B"), code in ("H", "B")]
    coef, share = {}, {}
    for tab in range(2):
        if not integrate[tab]:
            continue
        for j, r in enumerate(regions):
            f = [rec.value(tab, r, i) for i in range(n)]
            d = slopes(x, f)
            for m, t in enumerate(T):
                whole = integral_0_to(t, x, f, d)
                a, b = max(Q(0), x[0]), min(t, x[-1])
                part = integral_0_to(b, x, f, d) - integral_0_to(a, x, f, d) if a < b else Q(0)
                out = whole - part
                total = abs(part) + abs(out)
                coef[tab, j, m] = whole
                share[tab, j, m] = abs(out) / total if total != 0 else Q(0)
    return coef, share


def tag_of(rec, data_set):
    header = rec.header(data_set)
    return header[18] if data_set == "h" else header[13:20].strip()


def note_row(rec, regions, names, T, data_set, line):
    """The notes row of one processed record, or None: the counts over its integrated
    coefficients, the largest share and the first coefficient (time, region, low before high)
    that has it, the numbers as Python floats."""
    coef, share = shares_of(rec, regions, T)
    negative = sum(1 for v in coef.values() if v < 0)
    extended = sum(1 for v in share.values() if v > Q(1, 100))
    if negative == 0 and extended == 0:
        return None
    order = sorted(share, key=lambda k: (k[2], k[1], k[0]))
    best = max(share.values())
    tab, j, m = next(k for k in order if share[k] == best)
    x = [Q(number_text(float(t), 9).strip()) for t in rec.times]
    return ",".join([rec.nuclide, tag_of(rec, data_set), str(rec.age), str(line),
                     repr(float(x[0])), repr(float(x[-1])), str(len(coef)), str(negative),
                     str(extended), repr(float(best)), names[j], ("low", "high")[tab],
                     repr(float(T[m])), "0"])  # no tail fallbacks with the default models


def csv_rows(rec, regions, names, T, data_set, line, coef):
    """The CSV rows of one processed record: a table the record does not carry is empty, and
    so is the share of a table not integrated."""
    code = rec.code.upper().rstrip(" \t")
    carried = [code in ("L", "B"), code != "L"]
    _, share = shares_of(rec, regions, T)
    rows = []
    for m, t in enumerate(T):
        for j in range(len(regions)):
            fields = [rec.nuclide, tag_of(rec, data_set), str(rec.age), str(line),
                      str(len(rec.times)), repr(float(t)), names[j]]
            fields += [repr(float(coef[tab][j][m])) if carried[tab] else "" for tab in range(2)]
            fields += [repr(float(share[tab, j, m])) if (tab, j, m) in share else ""
                       for tab in range(2)]
            rows.append(",".join(fields))
    return rows


def heading(data_set, group, names):
    label = AGE_GROUPS[group - 1][0]
    centred = "".join(center_text(nm, 18) + " " for nm in names)
    pairs = "  low      high    " * len(names)
    if data_set == "h":
        return ["Inhalation Data Set For " + label, " " * 11 + "Time " + centred,
                " " * 12 + "(d)  " + pairs]
    return ["Ingestion Data Set For " + label, " " * 17 + "Time " + centred,
            " " * 9 + "  f1     (d)  " + pairs]


def rows(data_set, header, coef, T, region_count):
    out = []
    for m in range(max(len(T), 1)):
        if m == 0:
            prefix = header[0:7] + header[18:19] + " " if data_set == "h" else \
                header[0:7] + " " + header[13:20]
        else:
            prefix = " " * (9 if data_set == "h" else 15)
        t = T[m] if T else Q(0)
        line = prefix + field(t, 2)
        for j in range(region_count):
            c = (lambda tab: coef[tab][j][m] if T else Q(0))
            line += coefficient_field(c(0)) + coefficient_field(c(1)) + " "
        out.append(line)
    return out


def match_age(age, groups):
    for k, g in enumerate(groups):
        days = AGE_GROUPS[g - 1][1]
        if (days > 7299 and age > 7299) or days == age:
            return k
    return None


def write_case(name, data_set, groups, regions, times_text, records, trailer="", stop=None):
    """`stop` = index of the record at which the run stops, for a time that is not later than
    the one before it; the expected files then hold the rows of the records before it."""
    root = os.path.join(HERE, name)
    shutil.rmtree(root, ignore_errors=True)
    for sub in ("DATA", "data", "expected"):
        os.makedirs(os.path.join(root, sub))
    crlf = "\r\n"

    with open(os.path.join(root, "data", "Kestrane.ini"), "w", newline="") as fh:
        fh.write("Integration times in days" + crlf + "START" + crlf)
        fh.write("".join(t + crlf for t in times_text) + "END" + crlf)
    T = [Q(t.strip()) for t in times_text]

    letter = data_set
    region_list = REGION_NAMES + ["Lung", "ALL ORGANS"]
    names = [region_list[r - 1] for r in regions]
    files = [heading(letter, g, names) for g in groups]
    exact = []  # the coefficients of every processed record, in file order
    notes = [[] for _ in groups]  # the rows of each notes file
    csv = [[] for _ in groups]  # the rows of each CSV file
    header_lines, line = [], 3  # the line number of each record's header in the file
    for rec in records:
        header_lines.append(line)
        line += 1 + len(rec.times) * rec.p
    for idx, rec in enumerate(records):
        if stop is not None and idx >= stop:
            break
        k = match_age(rec.age, groups)
        if k is None:
            continue
        for factor in FACTORS:
            rec.factor = factor
            try:
                coef = coefficients(rec, regions, T)
                files[k].extend(rows(letter, rec.header(letter), coef, T, len(regions)))
                exact.extend("%d %s %d %d %d %r" % (k + 1, rec.nuclide, tab + 1, j + 1, m + 1,
                                                    float(coef[tab][j][m]))
                             for tab in range(2) for j in range(len(regions))
                             for m in range(len(T)))
                row = note_row(rec, regions, names, T, letter, header_lines[idx])
                notes[k].extend([row] if row else [])
                csv[k].extend(csv_rows(rec, regions, names, T, letter, header_lines[idx], coef))
                break
            except NearBoundary:
                continue
        else:
            raise SystemExit("no factor keeps the record %r off the rounding boundaries"
                             % rec.header(letter))

    drt = "KVR13INH.DRT" if letter == "h" else "KVR13ING.DRT"
    lines = ["Absorbed dose rates, synthetic test data", "  Time " + " ".join(REGION_NAMES)]
    stop_line = None
    for idx, rec in enumerate(records):
        if idx == stop:
            # The run stops at the line of the first time not later than the one before it.
            bad = next(i for i in range(1, len(rec.times))
                       if not Q(rec.times[i - 1]) < Q(rec.times[i]))
            stop_line = len(lines) + 2 + bad * rec.p
        lines.append(rec.header(letter))
        lines.extend(rec.data_lines())
    with open(os.path.join(root, "DATA", drt), "w", newline="") as fh:
        fh.write("".join(l + crlf for l in lines) + trailer)

    for g, content in zip(groups, files):
        fname = "DC%d%s.OUT" % (AGE_GROUPS[g - 1][1], letter)
        with open(os.path.join(root, "expected", fname), "w", newline="") as fh:
            fh.write("".join(l + crlf for l in content))
    with open(os.path.join(root, "expected", "coefficients.txt"), "w") as fh:
        fh.write("# file position, nuclide, table (1 low, 2 high), region position, time "
                 "position, exact coefficient\n")
        fh.write("".join(l + "\n" for l in exact))

    if stop is None:
        with open(os.path.join(root, "expected", "notes.txt"), "w") as fh:
            fh.write("# notes file, then its row with exact counts and shares as floats\n")
            for g, rows_of_file in zip(groups, notes):
                fname = "DC%d%s-notes.csv" % (AGE_GROUPS[g - 1][1], letter)
                fh.write("".join("%s %s\n" % (fname, row) for row in rows_of_file))
        with open(os.path.join(root, "expected", "csv.txt"), "w") as fh:
            fh.write("# CSV file, then its row with exact coefficients and shares as floats\n")
            for g, rows_of_file in zip(groups, csv):
                fname = "DC%d%s.csv" % (AGE_GROUPS[g - 1][1], letter)
                fh.write("".join("%s %s\n" % (fname, row) for row in rows_of_file))

    with open(os.path.join(root, "choice.txt"), "w") as fh:
        fh.write("data_set %s\n" % ("inhalation" if letter == "h" else "ingestion"))
        fh.write("ages %s\n" % " ".join(map(str, groups)))
        fh.write("regions %s\n" % " ".join(map(str, regions)))
        if stop is not None:
            fh.write("stop_line %d\n" % stop_line)
            fh.write("stop_header %s\n" % records[stop].header(letter))


# ---------------------------------------------------------------- the cases

def check_against_worked_examples():
    """The exact method reproduces the worked slopes and integrals of the numerical routines."""
    q = lambda *v: [Q(z) for z in v]
    assert slopes(q(0, 1, 2), q(0, 1, 0)) == q(2, 0, -2)
    assert slopes(q(0, 1, 2), q(0, 1, -9)) == [Q(3), Q(0), Q(-31, 2)]
    assert slopes(q(0, 1, 3), q(0, 1, 2)) == [Q(7, 6), Q(9, 13), Q(1, 6)]
    assert slopes(q(0, 1, 2, 3), q(4, 2, 0, 0)) == q(-2, -2, 0, 0)
    assert slopes(q(0, 1, 2, 3, 4), q(0, 1, 1, 2, 1)) == [Q(3, 2), Q(0), Q(0), Q(0), Q(-2)]
    x, f = q(0, 1, 2, 3), q(4, 2, 0, 0)
    d = slopes(x, f)
    assert integral_0_to(Q(3), x, f, d) == Q(23, 6)
    assert integral_0_to(Q(10), x, f, d) == Q(23, 6)
    x, f = q(0, 1, 2), q(0, 1, 0)
    assert integral_0_to(Q(2), x, f, slopes(x, f)) == Q(4, 3)
    assert integral_0_to(Q(1, 2), x, f, slopes(x, f)) == Q(5, 24)
    assert integral_0_to(Q(2), q(1, 2, 3), q(2, 1, 0), q(-1, -1, -1)) == Q(4)


def main():
    check_against_worked_examples()
    log_grid = ["5.000E-01", "1.000E+00", "3.000E+00", "1.000E+01", "3.000E+01",
                    "1.000E+02", "3.650E+02", "1.000E+03", "5.000E+03", "1.825E+04"]

    def rec(nuclide, age, tag, code, p, times, seed):
        return Record(nuclide, age, tag, code, p, times, tabulated(times, seed))

    # Inhalation: ages "1 y-old " and "Adult   "; "Lung", two columns and the last one, in
    # that order; six times, not sorted, one of them 0 and one beyond every table but one.
    inh = [
        rec("H-3", 365, "F", "L", 1, log_grid, 1),
        rec("C-14", 5475, "M", "B", 2, log_grid[:4], 2),        # age not chosen: passed over
        rec("Sr-90", 7300, "S", "B", 2, log_grid[:7], 3),
        rec("I-131", 9125, "F", "H", 1, log_grid[2:9], 4),      # adult group takes 9125 days
        rec("Cs-137", 7299, "F", "L", 1, log_grid[:3], 5),      # matches no age group
        rec("Pu-239", 365, "S", "B", 2, ["1.000E+00"], 6),      # one time point: the values
        rec("Am-241", 365, "M", "l", 1, log_grid[1:9], 7),      # lower-case code reads as L
        rec("Co-60", 7300, "M", "H ", 1, log_grid[:5], 8),      # code with a blank: as its letter
        rec("Ra-226", 365, "M", "H", 1, ["2.000E+00", "6.300E+04"], 9),  # two points: linear
        rec("Th-232", 9125, "S", "L", 1, ["7.500E+00"], 10),    # one time point, code L
    ]
    write_case("inhalation", "h", [2, 6], [LUNG, 2, 18, 29],
               ["30", "1", "365", "0", "1825", "20000"], inh, trailer="\r\n   \r\n")

    # Ingestion: ages "Adult   " then "Infant  " (files in that order), every region and
    # "Lung", four times.
    ing = [
        rec("Ca-45", 100, "3.0E-01", "B", 2, log_grid, 11),
        rec("Fe-59", 7300, "1.0E-01", "L", 1, log_grid[:6], 12),
        rec("Zn-65", 1825, "5.0E-01", "L", 1, log_grid[:6], 13),  # age not chosen
        rec("Nb-95", 100, "2.0E-02", "H", 1, ["1.000E-01"], 14),
        rec("Te-132", 20000, "3.0E-01", "h", 1, log_grid[3:], 15),
        rec("U-238", 100, "4.0E-02", "b", 2, ["1.300E+00", "2.000E+04"], 16),
    ]
    write_case("ingestion", "g", [6, 1], list(range(1, 31)),
               ["1", "30", "365", "18250"], ing)

    # A run that stops: the fourth record has a time that does not increase. The rows of the
    # records before it stay in the files.
    bad_times = ["1.000E+00", "2.000E+00", "2.000E+00", "4.000E+00"]
    stop = [
        rec("Na-22", 3650, "F", "L", 1, log_grid[:5], 21),
        rec("P-32", 100, "M", "B", 2, log_grid[:3], 22),
        rec("S-35", 5475, "M", "L", 1, bad_times, 23),           # not chosen: never integrated
        rec("K-40", 3650, "F", "B", 2, bad_times, 24),
        rec("Rb-86", 3650, "F", "L", 1, log_grid[:5], 25),
    ]
    write_case("stop", "h", [4, 1], [3, LUNG], ["10", "100"], stop, stop=3)


if __name__ == "__main__":
    main()
