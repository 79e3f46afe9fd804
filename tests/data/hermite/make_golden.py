#!/usr/bin/env python3
"""Writes golden.txt: rate tables with their slopes and integrals, every double as a hex float.

The slopes and integrals are computed here a second time, in Python (IEEE doubles, each
operation rounded on its own), by a transcription of the method that keeps 1-based positions
and the same order of operations as the C++ code. test_hermite compares the C++ results with
these bit for bit. Run it again only on purpose: python3 make_golden.py > golden.txt
Where a limit lies more than 100 widths outside the piece it is integrated on, the piece
integral takes the far form (the cubic expanded about the piece's ends in double-double
arithmetic), transcribed here operation by operation as well; the fused multiply-add that it
uses is formed exactly with fractions and rounded once.
"""

from fractions import Fraction

MASK = (1 << 64) - 1


class SplitMix64:
    def __init__(self, seed):
        self.state = seed & MASK

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def unit(self):
        return (self.next() >> 11) * 2.0**-53

    def below(self, k):
        return self.next() % k


def transfer_sign(m, s):
    return -abs(m) if s < 0.0 else abs(m)


def sign_product(a, b):
    r = transfer_sign(1.0, b) * transfer_sign(1.0, a)
    if a == 0.0 or b == 0.0:
        r = 0.0
    return r


def slopes(n, x, f):
    """x, f 1-based (index 0 unused). Returns (d, status)."""
    d = [None] * (n + 1)
    if n < 2:
        return d, -1
    for i in range(2, n + 1):
        if not (x[i - 1] < x[i]):
            return d, -3
    status = 0
    h1 = x[2] - x[1]
    del1 = (f[2] - f[1]) / h1
    dsave = del1
    if n == 2:
        d[1] = del1
        d[2] = del1
        return d, status
    h2 = x[3] - x[2]
    del2 = (f[3] - f[2]) / h2
    hsum = h1 + h2
    w1 = (h1 + hsum) / hsum
    w2 = -h1 / hsum
    d[1] = w1 * del1 + w2 * del2
    if sign_product(d[1], del1) <= 0.0:
        d[1] = 0.0
    elif sign_product(del1, del2) < 0.0:
        dmax = 3.0 * del1
        if abs(d[1]) > abs(dmax):
            d[1] = dmax
    for i in range(2, n):
        if i > 2:
            h1 = h2
            h2 = x[i + 1] - x[i]
            hsum = h1 + h2
            del1 = del2
            del2 = (f[i + 1] - f[i]) / h2
        d[i] = 0.0
        s = sign_product(del1, del2)
        if s < 0.0:
            status += 1
            dsave = del2
        elif s == 0.0:
            if del2 != 0.0:
                if sign_product(dsave, del2) < 0.0:
                    status += 1
                dsave = del2
        else:
            hsumt3 = hsum + hsum + hsum
            w1 = (hsum + h1) / hsumt3
            w2 = (hsum + h2) / hsumt3
            dmax = max(abs(del1), abs(del2))
            dmin = min(abs(del1), abs(del2))
            drat1 = del1 / dmax
            drat2 = del2 / dmax
            d[i] = dmin / (w1 * drat1 + w2 * drat2)
    w1 = -h2 / hsum
    w2 = (h2 + hsum) / hsum
    d[n] = w1 * del1 + w2 * del2
    if sign_product(d[n], del2) <= 0.0:
        d[n] = 0.0
    elif sign_product(del1, del2) < 0.0:
        dmax = 3.0 * del2
        if abs(d[n]) > abs(dmax):
            d[n] = dmax
    return d, status


FAR_WIDTHS = 100.0


def far_from_piece(x1, x2, a, b):
    reach = FAR_WIDTHS * (x2 - x1)
    return x1 - a > reach or x1 - b > reach or a - x2 > reach or b - x2 > reach


def fma(a, b, c):
    return float(Fraction(a) * Fraction(b) + Fraction(c))


def two_sum(a, b):
    s = a + b
    bb = s - a
    return (s, (a - (s - bb)) + (b - bb))


def fast_two_sum(a, b):
    s = a + b
    return (s, b - (s - a))


def w_add(a, b):
    s = two_sum(a[0], b[0])
    t = two_sum(a[1], b[1])
    s = fast_two_sum(s[0], s[1] + t[0])
    return fast_two_sum(s[0], s[1] + t[1])


def w_neg(a):
    return (-a[0], -a[1])


def w_sub(a, b):
    return w_add(a, w_neg(b))


def w_mul(a, b):
    if not isinstance(b, tuple):
        b = (b, 0.0)
    p = a[0] * b[0]
    e = fma(a[0], b[0], -p)
    return fast_two_sum(p, e + (a[0] * b[1] + a[1] * b[0]))


def w_div(a, b):
    q1 = a[0] / b[0]
    r = w_sub(a, w_mul(b, q1))
    q2 = r[0] / b[0]
    r = w_sub(r, w_mul(b, q2))
    q3 = r[0] / b[0]
    return w_add(fast_two_sum(q1, q2), (q3, 0.0))


def expanded(h, u, c0, c1, c2, c3):
    inner = w_add(w_div(c2, (3.0, 0.0)), w_mul(u, w_mul(c3, 0.25)))
    inner = w_add(w_mul(c1, 0.5), w_mul(u, inner))
    inner = w_add((c0, 0.0), w_mul(u, inner))
    return w_mul(w_mul(h, u), inner)


def far_piece(x1, x2, f1, f2, d1, d2, a, b):
    h = two_sum(x2, -x1)
    e1 = w_mul(h, d1)
    e2 = w_mul(h, d2)
    delta = two_sum(f2, -f1)
    cubic = w_sub(w_add(e1, e2), w_mul(delta, 2.0))
    sq1 = w_sub(w_sub(w_mul(delta, 3.0), w_mul(e1, 2.0)), e2)
    sq2 = w_sub(w_add(e1, w_mul(e2, 2.0)), w_mul(delta, 3.0))
    whole = expanded(h, (1.0, 0.0), f1, e1, sq1, cubic)

    def from_x1(t):
        to1 = two_sum(t, -x1)
        to2 = two_sum(t, -x2)
        if abs(to1[0]) <= abs(to2[0]):
            return expanded(h, w_div(to1, h), f1, e1, sq1, cubic)
        return w_add(whole, expanded(h, w_div(to2, h), f2, e2, sq2, cubic))

    r = w_sub(from_x1(b), from_x1(a))
    return r[0] + r[1]


def piece(x1, x2, f1, f2, d1, d2, a, b):
    if x1 == x2:
        return 0.0
    if far_from_piece(x1, x2, a, b):
        return far_piece(x1, x2, f1, f2, d1, d2, a, b)
    h = x2 - x1
    ta1 = (a - x1) / h
    ta2 = (x2 - a) / h
    tb1 = (b - x1) / h
    tb2 = (x2 - b) / h
    ua1 = ta1 * ta1 * ta1
    phia1 = ua1 * (2.0 - ta1)
    psia1 = ua1 * (3.0 * ta1 - 4.0)
    ua2 = ta2 * ta2 * ta2
    phia2 = ua2 * (2.0 - ta2)
    psia2 = -ua2 * (3.0 * ta2 - 4.0)
    ub1 = tb1 * tb1 * tb1
    phib1 = ub1 * (2.0 - tb1)
    psib1 = ub1 * (3.0 * tb1 - 4.0)
    ub2 = tb2 * tb2 * tb2
    phib2 = ub2 * (2.0 - tb2)
    psib2 = -ub2 * (3.0 * tb2 - 4.0)
    fterm = f1 * (phia2 - phib2) + f2 * (phib1 - phia1)
    dterm = (d1 * (psia2 - psib2) + d2 * (psib1 - psia1)) * (h / 6.0)
    return (h * 0.5) * (fterm + dterm)


def nodes(n, x, f, d, ia, ib):
    """Table already validated. Returns (value, status)."""
    if ia < 1 or ia > n or ib < 1 or ib > n:
        return 0.0, -4
    if ia == ib:
        return 0.0, 0
    s = 0.0
    for i in range(min(ia, ib), max(ia, ib)):
        h = x[i + 1] - x[i]
        s = s + h * ((f[i] + f[i + 1]) + (d[i] - d[i + 1]) * (h / 6.0))
    v = 0.5 * s
    if ib < ia:
        v = -v
    return v, 0


def hermite(n, x, f, d, a, b):
    """Table already validated. Returns (value, status)."""
    status = 0
    if a < x[1] or a > x[n]:
        status += 1
    if b < x[1] or b > x[n]:
        status += 2
    if a == b:
        return 0.0, status
    xa = min(a, b)
    xb = max(a, b)
    if xb <= x[2]:
        return piece(x[1], x[2], f[1], f[2], d[1], d[2], a, b), status
    if xa >= x[n - 1]:
        return piece(x[n - 1], x[n], f[n - 1], f[n], d[n - 1], d[n], a, b), status
    ia = 1
    for i in range(1, n):
        if xa > x[i]:
            ia = i + 1
    ib = n
    for i in range(n, ia - 1, -1):
        if xb < x[i]:
            ib = i - 1
    if ib < ia:
        return piece(x[ib], x[ia], f[ib], f[ia], d[ib], d[ia], a, b), status
    value = 0.0
    if ib > ia:
        value, st = nodes(n, x, f, d, ia, ib)
        if st < 0:
            return 0.0, -5
    if xa < x[ia]:
        il = max(1, ia - 1)
        ir = il + 1
        value = value + piece(x[il], x[ir], f[il], f[ir], d[il], d[ir], xa, x[ia])
    if xb > x[ib]:
        ir = min(ib + 1, n)
        il = ir - 1
        value = value + piece(x[il], x[ir], f[il], f[ir], d[il], d[ir], x[ib], xb)
    if a > b:
        value = -value
    return value, status


def make_table(rng, n, kind):
    x = [None] * (n + 1)
    f = [None] * (n + 1)
    x[1] = 0.0 if rng.below(2) == 0 else rng.unit() * 10.0
    for i in range(2, n + 1):
        scale = float(10 ** rng.below(5)) / 100.0
        x[i] = x[i - 1] + (rng.unit() + 2.0**-10) * scale
    if kind == "decay":
        # A positive rate that falls away and reaches exact zero for the last points.
        v = 1.0 + rng.unit()
        zero_from = n - rng.below(max(1, n // 3) + 1)
        for i in range(1, n + 1):
            f[i] = 0.0 if i > zero_from else v
            v = v * (0.3 + 0.6 * rng.unit())
    else:
        v = rng.unit() * 2.0 - 1.0
        for i in range(1, n + 1):
            r = rng.below(10)
            if r == 0:
                v = 0.0
            elif r <= 2:
                pass  # a flat step
            elif r <= 4:
                v = -v * rng.unit() * 8.0
            else:
                v = v + (rng.unit() * 2.0 - 1.0) * float(10 ** rng.below(3))
            f[i] = v
    return x, f


def limits(rng, n, x):
    lo = x[1]
    hi = x[n]
    span = hi - lo
    pts = [0.0, lo, hi, x[(n + 1) // 2], lo - 0.25 * span, hi + 0.5 * span]
    for _ in range(6):
        pts.append(lo + rng.unit() * span)
    pairs = [(0.0, t) for t in pts[1:]]
    for _ in range(10):
        pairs.append((pts[rng.below(len(pts))], pts[rng.below(len(pts))]))
    if n >= 2:
        i = 1 + rng.below(n - 1)
        pairs.append((x[i] + 0.25 * (x[i + 1] - x[i]), x[i] + 0.75 * (x[i + 1] - x[i])))
    return pairs


def main():
    rng = SplitMix64(20240611)
    sizes = [2, 3, 3, 4, 5, 7, 12, 20, 33, 50, 75, 100, 128, 149, 150, 150]
    print("# Rate tables with slopes and integrals, doubles as hex floats (make_golden.py).")
    print("# table n / point x f d / slopes status / integral a b status value /")
    print("# nodes ia ib status value / end")
    for t, n in enumerate(sizes):
        kind = "decay" if t % 3 == 1 else "mixed"
        x, f = make_table(rng, n, kind)
        d, status = slopes(n, x, f)
        print("table", n)
        for i in range(1, n + 1):
            print("point", x[i].hex(), f[i].hex(), d[i].hex())
        print("slopes", status)
        for a, b in limits(rng, n, x):
            v, st = hermite(n, x, f, d, a, b)
            print("integral", a.hex(), b.hex(), st, v.hex())
        for _ in range(4):
            ia = 1 + rng.below(n)
            ib = 1 + rng.below(n)
            v, st = nodes(n, x, f, d, ia, ib)
            print("nodes", ia, ib, st, v.hex())
        print("end")


if __name__ == "__main__":
    main()
