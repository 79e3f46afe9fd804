#!/usr/bin/env python3
"""Writes tails.txt: records with their integrals from 0 under every pair of rate models.

For each record (times, rows of rates, table code) and integration times, the integral from 0
to T is worked out a second time, here, as the sum of three parts: before the first time by the
before-model, inside [max(0, x1), min(T, xN)] by the interpolant, after the last time by the
after-model. The slopes are the program's (a transcription of its method in IEEE doubles,
tests/data/hermite/make_golden.py, which test_hermite checks bit for bit); everything else is
exact: the integrals of the cubic pieces and the closed forms of zero, constant and linear in
rational arithmetic, the exponential part in 60-digit decimal arithmetic. test_tail_rows
compares the program with these values to 1e-13 relative.
Run it again only on purpose: python3 make_tails.py > tails.txt
"""

import pathlib
import sys
from decimal import Decimal, getcontext
from fractions import Fraction

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "hermite"))
from make_golden import slopes  # noqa: E402

getcontext().prec = 60

BEFORE = ["extend", "zero", "constant", "linear"]
AFTER = ["extend", "zero", "constant", "exponential"]


def cubic_integral(xa, xb, fa, fb, da, db, u, v):
    """Exact integral over [u, v] of the Hermite cubic of the piece [xa, xb] (continued)."""
    xa, xb, fa, fb, da, db, u, v = map(Fraction, (xa, xb, fa, fb, da, db, u, v))
    h = xb - xa

    def antiderivative(t):
        s = (t - xa) / h
        h00 = s**4 / 2 - s**3 + s
        h10 = s**4 / 4 - 2 * s**3 / 3 + s**2 / 2
        h01 = -(s**4) / 2 + s**3
        h11 = s**4 / 4 - s**3 / 3
        return h * (fa * h00 + h * da * h10 + fb * h01 + h * db * h11)

    return antiderivative(v) - antiderivative(u)


def inside_integral(x, f, d, lo, hi):
    """Exact integral of the interpolant over [lo, hi], within [x1, xN]."""
    total = Fraction(0)
    for i in range(len(x) - 1):
        a, b = max(lo, x[i]), min(hi, x[i + 1])
        if b > a:
            total += cubic_integral(x[i], x[i + 1], f[i], f[i + 1], d[i], d[i + 1], a, b)
    return total


def to_decimal(q):
    return Decimal(q.numerator) / Decimal(q.denominator)


def before_part(model, x, f, d, T):
    x1 = Fraction(x[0])
    if x1 <= 0 or T <= 0:
        return Fraction(0)
    upper = min(Fraction(T), x1)
    if model == "extend":
        return cubic_integral(x[0], x[1], f[0], f[1], d[0], d[1], 0, upper)
    if model == "zero":
        return Fraction(0)
    if model == "constant":
        return Fraction(f[0]) * upper
    return Fraction(f[0]) * upper * upper / (2 * x1)


def after_part(model, x, f, d, T):
    """(exact value as Fraction or Decimal, fell back)."""
    xN = Fraction(x[-1])
    if Fraction(T) <= xN:
        return Fraction(0), False
    start = max(Fraction(0), xN)
    span = Fraction(T) - start
    fp, fN = Fraction(f[-2]), Fraction(f[-1])
    if model == "extend":
        return cubic_integral(x[-2], x[-1], f[-2], f[-1], d[-2], d[-1], start, T), False
    if model == "zero":
        return Fraction(0), False
    if model == "constant":
        return fN * span, False
    if fN == 0:
        return Fraction(0), False
    if not (fp > fN > 0):
        return fN * span, True
    lam = (to_decimal(fp) / to_decimal(fN)).ln() / to_decimal(xN - Fraction(x[-2]))
    decay = lambda t: -(-lam * to_decimal(Fraction(t) - xN)).exp()  # noqa: E731
    return to_decimal(fN) * (decay(T) - decay(start)) / lam, False


def as_float(value):
    return float(value) if isinstance(value, Fraction) else float(value)


# Records: name, table code, times, low rows, high rows, integration times. The rows reach
# every branch of the models: a first time of 0 and after 0, limits below the first time, at
# it, inside and past the last time (up to a million days), rates falling to the last one
# slowly (lambda (T - xN) from about 1e-12) and fast (to about 800), a last rate of 0, rising
# and negative last rates; two points; a record of one table; a record of one time point.
# Past the last time the limits stay within 15 widths of the last piece or lie beyond 100:
# between, the continued cubic of `extend` keeps its closed form, whose terms cancel there to
# about 1e-12, short of the 1e-13 checked.
def records():
    fall = [4.0, 2.5, 1.0, 0.5, 0.25]
    rows_a = [fall, [1.0, 2.0, 3.0, 2.5, 3.5], [3.0, 2.0, 1.0, 0.5, 0.0],
              [2.0, 1.5, 1.0, -0.25, -0.5], [1.0, 1.0, 1.0, 1.0, 1.0]]
    yield ("FirstTimeZero", "B", [0.0, 1.0, 3.0, 7.0, 15.0], rows_a,
           [[2 * v for v in r] for r in reversed(rows_a)], [0.0, 0.5, 3.0, 15.0, 30.0, 1e6])
    rows_b = [[0.5, 3.0, 2.0, 1.0, 0.75], [5.0, 4.0, 2.0, 1.0, 0.5], [1e-12, 3e-12, 2e-12, 1e-12,
              1e-12 + 2**-80], [2.0, 1.0, 0.5, 0.25, 0.0]]
    yield ("FirstTimeLater", "L", [0.5, 2.0, 5.0, 30.0, 100.0], rows_b, [],
           [0.0, 0.25, 0.5, 3.0, 50.0, 100.0, 365.0, 1e6])
    # The last two rates fall by 2^-39 (lambda about 1.8e-12 a day) and by 10 a day.
    slow = [3.0, 2.0, 1.0 + 2.0**-39, 1.0]
    fast = [1e-9, 8e-10, 1e-10, 1e-11]
    yield ("DecayRates", "H", [1.0, 2.0, 3.0, 4.0], [], [slow, fast, slow, fast, slow],
           [0.5, 4.0, 4.55, 5.0, 150.0, 351.4, 1e6])
    yield ("TwoPoints", "B", [2.0, 6.0], [[1.0, 0.5], [0.5, 1.0]], [[0.0, 0.0], [3.0, 0.0]],
           [1.0, 4.0, 6.0, 60.0])
    yield ("OneTimePoint", "B", [3.0], [[2.5]], [[0.5]], [1.0, 30.0])


def main():
    print("# Integrals from 0 under each pair of rate models (make_tails.py); inputs as hex")
    print("# floats, expected values as the doubles nearest the exact ones.")
    print("# record NAME CODE / x ... / low ... / high ... / times ... /")
    print("# models BEFORE AFTER FALLBACKS / coef TABLE ... / outside TABLE ... / end")
    for name, code, x, low, high, times in records():
        print("record", name, code)
        print("x", *(v.hex() for v in x))
        for row in low:
            print("low", *(v.hex() for v in row))
        for row in high:
            print("high", *(v.hex() for v in row))
        print("times", *(v.hex() for v in times))
        tables = [("low", low), ("high", high)]
        for before in BEFORE:
            for after in AFTER:
                lines, fallbacks = [], 0
                for table, rows in tables:
                    for f in rows:
                        coefs, outs = [], []
                        for T in times:
                            if len(x) == 1:
                                coefs.append(f[0])
                                outs.append(0.0)
                                continue
                            d = slopes(len(x), [None] + x, [None] + f)[0][1:]
                            b = before_part(before, x, f, d, T)
                            lo = max(Fraction(0), Fraction(x[0]))
                            hi = min(Fraction(T), Fraction(x[-1]))
                            i = inside_integral(x, f, d, lo, hi) if hi > lo else Fraction(0)
                            a, fell_back = after_part(after, x, f, d, T)
                            fallbacks += fell_back
                            if isinstance(a, Decimal):
                                coefs.append(float(to_decimal(b + i) + a))
                                outs.append(float(to_decimal(b) + a))
                            else:
                                coefs.append(float(b + i + a))
                                outs.append(float(b + a))
                        lines.append(("coef " + table, coefs))
                        lines.append(("outside " + table, outs))
                print("models", before, after, fallbacks)
                for tag, values in lines:
                    print(tag, *(repr(v) for v in values))
        print("end")


if __name__ == "__main__":
    main()
