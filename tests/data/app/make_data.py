#!/usr/bin/env python3
"""Writes the small working directory of the run-driver tests, its expected coefficient files, and
the expected CSV and notes files of the inhalation choice.

The rates of every record are straight lines in time, so the exact integral from 0 to T is
a*T + b*T*T/2, worked out here in rational arithmetic from the decimal texts written into the
dose-rate files (a shape-preserving cubic through points of a straight line is that line, also
beyond the last point). Every expected number is checked to lie well away from a rounding
boundary of its printed form, so that a last-bit difference of a correct integration cannot
change the text. Run it from anywhere; it rewrites run/ and golden/ beside itself.
"""

import os
import struct
from decimal import ROUND_HALF_EVEN, Decimal, getcontext
from fractions import Fraction

getcontext().prec = 80
HERE = os.path.dirname(os.path.abspath(__file__))
CRLF = "\r\n"

REGION_NAMES = [
    "Adrenals", "UB-Wall", "Bone-Surf", "Brain", "Breast", "St-Wall", "SI-Wall", "ULI-Wall",
    "LLI-Wall", "Kidneys", "Liver", "Muscle", "Ovaries", "Pancreas", "ET-Region", "BB-Airways",
    "bb-Airways", "AI-Region", "Red-Marrow", "Skin", "Spleen", "Testes", "Thymus", "Thyroid",
    "GB-Wall", "Heart-Wall", "Uterus", "Oesophagus", "Remainder-Tissues-Long",
]
assert len(REGION_NAMES) == 29
LUNG = 30
TIMES = [1.37, 7.13, 29.9]  # the integration times of data/Kestrane.ini
GRID = ["0.000E+00", "5.000E-01", "1.000E+00", "3.000E+00", "1.000E+01"]


def f32(x):
    return struct.unpack("f", struct.pack("f", float(x)))[0]


W1 = Fraction(f32(0.1665))
W2 = Fraction(f32(0.333))


def rate_text(v):
    return f"{v:10.3E}"


def fmt(value, digits):
    """The exponential field of `value` after narrowing to 32 bits: sign place, digits, E+xx."""
    v = Fraction(f32(float(value)))
    if v == 0:
        return " " + "0." + "0" * (digits - 1) + "E+00"
    sign = "-" if v < 0 else " "
    d = Decimal(abs(v.numerator)) / Decimal(v.denominator)
    exp = d.adjusted()
    q = d.scaleb(-exp).quantize(Decimal(1).scaleb(-(digits - 1)), rounding=ROUND_HALF_EVEN)
    if q >= 10:
        q = (q / 10).quantize(Decimal(1).scaleb(-(digits - 1)), rounding=ROUND_HALF_EVEN)
        exp += 1
    # Keep away from a rounding boundary: the exact scaled value must not sit within 1e-6
    # (relative) of a half step.
    scaled = d.scaleb(-exp)
    step = Decimal(1).scaleb(-(digits - 1))
    frac = (scaled / step) % 1
    assert abs(frac - Decimal("0.5")) > Decimal("1e-6"), (value, digits)
    es = "+" if exp >= 0 else "-"
    return f"{sign}{q}E{es}{abs(exp):02d}"


def line_values(a, b, t):
    """Rates of the 29 columns at time t for a line a_k + b_k t."""
    return [a[k] + b[k] * t for k in range(29)]


class Record:
    def __init__(self, nuclide, age, tag, code, lines_per_point, tables, n):
        self.nuclide, self.age, self.tag, self.code = nuclide, age, tag, code
        self.p, self.tables, self.n = lines_per_point, tables, n

    def header(self, data_set):
        if data_set == "h":
            h = f"{self.nuclide:<7} {self.age:>5}     {self.tag}         {self.n:>3} {self.p} {self.code}"
            assert len(h) == 35, h
        else:
            h = f"{self.nuclide:<7} {self.age:>5}{self.tag:>7} {self.n:>3} {self.p} {self.code}"
            assert len(h) == 28, h
        return h

    def data_lines(self):
        """The data lines, and per table the exact rates (as read back) at each time point."""
        out = []
        exact = {}
        for i in range(self.n):
            for t in [t for t in ("low", "high") if t in self.tables]:
                a, b = self.tables[t]
                x = GRID[i]
                vals = [rate_text(v) for v in line_values(a, b, Decimal(x))]
                out.append(x + "".join(vals))
                exact.setdefault(t, []).append((Fraction(Decimal(x)),
                                                [Fraction(Decimal(v)) for v in vals]))
        return out, exact

    def coefficients(self, regions):
        """coef[t][j][m] exact, t in 'low','high'."""
        _, exact = self.data_lines()
        coef = {"low": [[Fraction(0)] * len(TIMES) for _ in regions],
                "high": [[Fraction(0)] * len(TIMES) for _ in regions]}
        for t, points in exact.items():
            for j, r in enumerate(regions):
                ys = [composite(p[1]) if r == LUNG else p[1][r - 1] for p in points]
                xs = [p[0] for p in points]
                if self.n == 1:
                    coef[t][j] = [ys[0]] * len(TIMES)
                    continue
                # The rates were written rounded to four digits, so they are a straight line
                # only to that precision: fit the line through the first two points and check
                # every other point lies on it exactly as written.
                slope = (ys[1] - ys[0]) / (xs[1] - xs[0])
                inter = ys[0] - slope * xs[0]
                for x, y in zip(xs, ys):
                    assert inter + slope * x == y, (self.nuclide, r, x)
                coef[t][j] = [inter * Fraction(T) + slope * Fraction(T) ** 2 / 2 for T in TIMES]
        return coef


def shares(rec, regions):
    """share[t][j][m] of every integrated coefficient, exactly: |outside| / (|inside| + |outside|),
    the part inside being the integral of the line over [max(0, x1), min(T, xN)]. None where the
    table is not integrated (one time point, or a table the code does not name)."""
    _, exact = rec.data_lines()
    out = {"low": [[None] * len(TIMES) for _ in regions],
           "high": [[None] * len(TIMES) for _ in regions]}
    if rec.n < 2:
        return out
    coef = rec.coefficients(regions)
    for t, points in exact.items():
        xs = [p[0] for p in points]
        for j, r in enumerate(regions):
            ys = [composite(p[1]) if r == LUNG else p[1][r - 1] for p in points]
            slope = (ys[1] - ys[0]) / (xs[1] - xs[0])
            inter = ys[0] - slope * xs[0]
            prim = lambda u: inter * u + slope * u * u / 2
            for m, T in enumerate(TIMES):
                a, b = max(Fraction(0), xs[0]), min(Fraction(T), xs[-1])
                inside = prim(b) - prim(a) if a < b else Fraction(0)
                outside = coef[t][j][m] - inside
                whole = abs(inside) + abs(outside)
                out[t][j][m] = abs(outside) / whole if whole != 0 else Fraction(0)
    return out


def header_lines(records):
    """The line number of each record's header in its dose-rate file."""
    lines, at = [], 3
    for r in records:
        lines.append(at)
        at += 1 + r.n * r.p
    return lines


def matches(rec, group_days):
    return rec.age == group_days or (group_days > 7299 and rec.age > 7299)


def tag_of(rec, data_set):
    return rec.header(data_set)[18] if data_set == "h" else rec.tag.strip()


def csv_file(data_set, group_days, regions, records):
    """The CSV file: a table the record does not carry is empty, and so is a share that was not
    worked out; the numbers as the shortest texts of the exact values rounded to doubles."""
    names = [region_name(r) for r in regions]
    rows = ["nuclide," + ("class" if data_set == "h" else "f1") +
            ",age_days,header_line,points,time_d,region,low,high,low_share_outside,"
            "high_share_outside"]
    for rec, line in zip(records, header_lines(records)):
        if not matches(rec, group_days):
            continue
        coef, share = rec.coefficients(regions), shares(rec, regions)
        for m, T in enumerate(TIMES):
            for j in range(len(regions)):
                fields = [rec.nuclide, tag_of(rec, data_set), str(rec.age), str(line), str(rec.n),
                          repr(T), names[j]]
                fields += [repr(float(coef[t][j][m])) if t in rec.tables else "" for t in ("low", "high")]
                fields += [repr(float(share[t][j][m])) if share[t][j][m] is not None else ""
                           for t in ("low", "high")]
                rows.append(",".join(fields))
    return "\n".join(rows) + "\n"


def notes_file(data_set, group_days, regions, records):
    """The notes file, or None when no record is noted: per record the counts over its integrated
    coefficients and the first (time, region, low before high) with the largest share."""
    names = [region_name(r) for r in regions]
    rows = ["nuclide," + ("class" if data_set == "h" else "f1") +
            ",age_days,header_line,first_time_d,last_time_d,coefficients,negative,extended,"
            "largest_share_outside,at_region,at_table,at_time_d,tail_fallbacks"]
    for rec, line in zip(records, header_lines(records)):
        if not matches(rec, group_days):
            continue
        coef, share = rec.coefficients(regions), shares(rec, regions)
        cells = [(m, j, ti, t) for m in range(len(TIMES)) for j in range(len(regions))
                 for ti, t in enumerate(("low", "high")) if share[t][j][m] is not None]
        negative = sum(1 for m, j, _, t in cells if coef[t][j][m] < 0)
        extended = sum(1 for m, j, _, t in cells if share[t][j][m] > Fraction(1, 100))
        if negative == 0 and extended == 0:
            continue
        best = max(share[t][j][m] for m, j, _, t in cells)
        m, j, _, t = next(c for c in cells if share[c[3]][c[1]][c[0]] == best)
        rows.append(",".join([rec.nuclide, tag_of(rec, data_set), str(rec.age), str(line),
                              repr(float(Fraction(Decimal(GRID[0])))),
                              repr(float(Fraction(Decimal(GRID[rec.n - 1])))),
                              str(len(cells)), str(negative), str(extended), repr(float(best)),
                              names[j], t, repr(TIMES[m]), "0"]))  # default models
    return "\n".join(rows) + "\n" if len(rows) > 1 else None


def composite(cols):
    return W1 * cols[14] + W1 * cols[15] + W2 * cols[16] + W2 * cols[17]


def linear_table(scale, slope_scale):
    # Integer multiples of powers of ten keep every written rate exactly on its line.
    a = [Decimal(scale) * (k + 1) for k in range(29)]
    b = [Decimal(slope_scale) * (k + 1) for k in range(29)]
    return (a, b)


def drt(data_set, records):
    title = ("Absorbed dose rates, inhalation (test data)" if data_set == "h"
             else "Absorbed dose rates, ingestion (test data)")
    lines = [title, "Regions " + " ".join(REGION_NAMES)]
    for r in records:
        lines.append(r.header(data_set))
        lines.extend(r.data_lines()[0])
    return CRLF.join(lines) + CRLF


def center(s, w):
    if len(s.lstrip(" ")) >= w:
        return s[:w]
    t = " " * ((w - len(s)) // 2) + s
    return t + " " * (w - len(t))


def region_name(r):
    return "Lung" if r == LUNG else REGION_NAMES[r - 1]


AGE_LABELS = {100: "Infant  ", 365: "1 y-old ", 1825: "5 y-old ", 3650: "10 y-old",
              5475: "15 y-old", 7300: "Adult   "}


def coefficient_file(data_set, group_days, regions, records):
    R = len(regions)
    if data_set == "h":
        lines = ["Inhalation Data Set For " + AGE_LABELS[group_days],
                 " " * 11 + "Time " + "".join(center(region_name(r), 18) + " " for r in regions),
                 " " * 12 + "(d)  " + "  low      high    " * R]
    else:
        lines = ["Ingestion Data Set For " + AGE_LABELS[group_days],
                 " " * 17 + "Time " + "".join(center(region_name(r), 18) + " " for r in regions),
                 " " * 9 + "  f1     (d)  " + "  low      high    " * R]
    for rec in records:
        matches = rec.age == group_days or (group_days > 7299 and rec.age > 7299)
        if not matches:
            continue
        h = rec.header(data_set)
        coef = rec.coefficients(regions)
        for m, T in enumerate(TIMES):
            if m == 0:
                prefix = h[0:7] + h[18] + " " if data_set == "h" else h[0:7] + " " + h[13:20]
            else:
                prefix = " " * (9 if data_set == "h" else 15)
            row = prefix + fmt(T, 2)
            for j in range(R):
                row += fmt(coef["low"][j][m], 3) + fmt(coef["high"][j][m], 3) + " "
            lines.append(row)
    return CRLF.join(lines) + CRLF


INHALATION = [
    Record("H-3", 100, "F", "L", 1, {"low": linear_table("1E-11", "2E-12")}, 5),
    Record("Be-7", 365, "M", "L", 1, {"low": linear_table("3E-11", "2E-12")}, 5),
    Record("C-14", 7300, "S", "B", 2,
           {"low": linear_table("5E-12", "3E-13"), "high": linear_table("7E-12", "2E-13")}, 5),
    Record("Na-22", 9125, "M", "H", 1, {"high": linear_table("2E-11", "4E-12")}, 4),
    Record("P-32", 7299, "F", "L", 1, {"low": linear_table("9E-11", "2E-12")}, 5),
    Record("S-35", 100, "V", "l", 1, {"low": linear_table("4E-10", "0")}, 1),
]
INGESTION = [
    Record("Cs-137", 365, "1.0E+00", "H", 1, {"high": linear_table("6E-12", "4E-13")}, 4),
    Record("Sr-90", 100, "3.0E-01", "L", 1, {"low": linear_table("8E-12", "2E-13")}, 5),
    Record("I-129", 365, "1.0E+00", "B", 2,
           {"low": linear_table("2E-12", "6E-13"), "high": linear_table("3E-12", "2E-13")}, 3),
]

# The choices the tests make.
INHALATION_AGES = [7300, 100]        # "Adult   " then "Infant  "
INHALATION_REGIONS = [LUNG, 1, 2]    # "Lung", then the first two names
INGESTION_AGES = [365]               # "1 y-old "
INGESTION_REGIONS = list(range(1, 31))  # "ALL ORGANS"


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="") as f:
        f.write(text)


def main():
    run = os.path.join(HERE, "run")
    write(os.path.join(run, "data", "Kestrane.ini"),
          CRLF.join(["Integration times in days", "START"] + [str(t) for t in TIMES]
                    + ["END", "365"]) + CRLF)
    write(os.path.join(run, "DATA", "KVR13INH.DRT"), drt("h", INHALATION))
    write(os.path.join(run, "DATA", "KVR13ING.DRT"), drt("g", INGESTION))
    golden = os.path.join(HERE, "golden")
    for days in INHALATION_AGES:
        write(os.path.join(golden, f"DC{days}h.OUT"),
              coefficient_file("h", days, INHALATION_REGIONS, INHALATION))
        write(os.path.join(golden, f"DC{days}h.csv"),
              csv_file("h", days, INHALATION_REGIONS, INHALATION))
        notes = notes_file("h", days, INHALATION_REGIONS, INHALATION)
        if notes:
            write(os.path.join(golden, f"DC{days}h-notes.csv"), notes)
    for days in INGESTION_AGES:
        write(os.path.join(golden, f"DC{days}g.OUT"),
              coefficient_file("g", days, INGESTION_REGIONS, INGESTION))


if __name__ == "__main__":
    main()
