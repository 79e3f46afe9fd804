#!/usr/bin/env python3
"""Writes far.txt: pieces and tables continued far beyond their times, with the exact integrals.

Each case is a rate table (times x, rates f and slopes d, doubles as hex floats) and the limits
a and b of one integral, where a limit lies more than 100 widths of the end piece outside the
table. The integral of the piecewise cubic Hermite interpolant (first and last piece
continued) is worked out here exactly, in rational arithmetic on the very doubles of the table,
from the Hermite form of each piece; test_hermite compares the program's integral with it to a
relative 1e-12. Cases whose integral lies near 0 relative to the size of its terms (where no
rounding of the inputs could give 1e-12) are not drawn.

Usage: python3 make_far.py > far.txt
"""

from fractions import Fraction as Q
import random


def cubic_integral(x1, x2, f1, f2, d1, d2, a, b):
    """Exact integral over [a, b] of the Hermite cubic of the piece [x1, x2], continued."""
    x1, x2, f1, f2, d1, d2, a, b = map(Q, (x1, x2, f1, f2, d1, d2, a, b))
    h = x2 - x1
    delta = f2 - f1
    e1, e2 = d1 * h, d2 * h
    c2 = 3 * delta - 2 * e1 - e2
    c3 = e1 + e2 - 2 * delta

    def prim(t):  # antiderivative from x1, in v = (t - x1) / h
        v = (t - x1) / h
        return h * (f1 * v + e1 * v**2 / 2 + c2 * v**3 / 3 + c3 * v**4 / 4)

    def size(t):  # the magnitude of the terms of prim
        v = abs((t - x1) / h)
        return h * (abs(f1) * v + abs(e1) * v**2 / 2 + abs(c2) * v**3 / 3 + abs(c3) * v**4 / 4)

    return prim(b) - prim(a), size(a) + size(b)


def table_integral(x, f, d, a, b):
    """Exact integral from a to b of the interpolant, pieces continued at both ends."""
    n = len(x)
    lo, hi = min(a, b), max(a, b)
    cuts = sorted({lo, hi} | {t for t in x if lo < t < hi})
    total, size = Q(0), Q(0)
    for s, t in zip(cuts, cuts[1:]):
        mid = (Q(s) + Q(t)) / 2
        i = 0
        while i < n - 2 and Q(x[i + 1]) <= mid:
            i += 1
        v, w = cubic_integral(x[i], x[i + 1], f[i], f[i + 1], d[i], d[i + 1], s, t)
        total += v
        size += w
    return (total if a <= b else -total), size


def case(label, x, f, d, a, b):
    exact, size = table_integral(x, f, d, a, b)
    if exact == 0 or abs(exact) < size * Q(1, 10**6):
        return False
    print("case", label, len(x), a.hex(), b.hex(), float(exact).hex())
    for xi, fi, di in zip(x, f, d):
        print("point", xi.hex(), fi.hex(), di.hex())
    return True


def main():
    rng = random.Random(18)
    print("# Integrals continued far beyond the table, exactly (make_far.py).")
    print("# case label n a b exact / point x f d (n lines)")
    # A constant last piece of width 2.8 days continued to a million days.
    case("constant-last-piece", [1.0, 7.2, 10.0], [3.5e-6, 2.107e-6, 2.107e-6],
         [-2.0e-7, 0.0, 0.0], 0.0, 1.0e6)
    # A straight line through two points, its slope the rounded secant, continued far both ways.
    for k in range(40):
        x1 = rng.uniform(0.01, 50.0)
        h = 10 ** rng.uniform(-3, 1)
        x2 = x1 + h
        f1 = 10 ** rng.uniform(-20, -8)
        f2 = f1 * rng.uniform(0.1, 0.99)
        slope = (f2 - f1) / (x2 - x1)
        b = x2 + (x2 - x1) * 10 ** rng.uniform(2.01, 7)
        a = 0.0 if x1 > 100 * (x2 - x1) else x1 - rng.uniform(0, 1) * (x2 - x1)
        case("line-%d" % k, [x1, x2], [f1, f2], [slope, slope], a, b)
    # Decaying tables: the last piece continued far above, the first back to 0 from far.
    drawn = 0
    while drawn < 60:
        n = rng.randint(2, 8)
        t = rng.uniform(0.5, 20.0)
        x, f, d = [], [], []
        v = 10 ** rng.uniform(-20, -8)
        for _ in range(n):
            x.append(t)
            f.append(v)
            d.append(-v * rng.uniform(0.0, 3.0) / t)
            t = t + 10 ** rng.uniform(-3, 1.5)
            v = v * rng.uniform(0.05, 1.0)
        width_last = x[-1] - x[-2] if n > 1 else 1.0
        width_first = x[1] - x[0]
        far_above = x[-1] + width_last * 10 ** rng.uniform(2.01, 7)
        kind = rng.randrange(3)
        if kind == 0:  # from intake to far above
            a, b = 0.0, far_above
        elif kind == 1:  # from intake to inside the table, the first piece far below
            if x[0] <= 100 * width_first:
                continue
            a, b = 0.0, rng.uniform(x[0], x[-1])
        else:  # the limits reversed
            a, b = far_above, 0.0
        if x[0] <= 100 * width_first and kind != 0 and max(a, b) <= x[-1] + 100 * width_last:
            continue
        drawn += case("table-%d" % drawn, x, f, d, a, b)


if __name__ == "__main__":
    main()
