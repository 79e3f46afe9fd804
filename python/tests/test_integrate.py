# integrate() against the reference integrals of tests/data/hermite/golden.txt, to the bit.
import numpy as np
import pytest

import kestrane
from conftest import SOURCE


def golden_tables():
    """(x, f, limits, values) of every golden table whose slopes are accepted, with its
    integrals from 0 to limits of 0 or more."""
    tables, table = [], None
    for line in (SOURCE / "tests/data/hermite/golden.txt").read_text().splitlines():
        tag, *fields = line.split() or [""]
        if tag == "table":
            table = {"x": [], "f": [], "limits": [], "values": [], "ok": True}
            tables.append(table)
        elif tag == "point":
            table["x"].append(float.fromhex(fields[0]))
            table["f"].append(float.fromhex(fields[1]))
        elif tag == "slopes":
            table["ok"] = fields[0] == "0"
        # From 0 to a limit of 0 or more: a negative limit is refused, as a negative
        # integration time is by the programs.
        elif (tag == "integral" and float.fromhex(fields[0]) == 0 and int(fields[2]) >= 0
              and float.fromhex(fields[1]) >= 0):
            table["limits"].append(float.fromhex(fields[1]))
            table["values"].append(float.fromhex(fields[3]))
    return [t for t in tables if t["ok"] and t["limits"]]


def test_reference_integrals_to_the_bit():
    tables = golden_tables()
    assert len(tables) >= 5 and sum(len(t["limits"]) for t in tables) >= 50
    for t in tables:
        got = kestrane.integrate(t["x"], t["f"], t["limits"])
        assert got.shape == (len(t["limits"]),)
        assert got.tobytes() == np.array(t["values"]).tobytes(), t["x"][:2]


def test_rows_give_one_row_of_integrals_each():
    x = np.array([1.0, 2.0, 3.0, 4.0])
    f = np.array([[2.0, 4.0, 6.0, 8.0], [2.0, 1.0, 0.5, 0.25]])
    limits = np.array([0.5, 3.5, 5.0])
    both = kestrane.integrate(x, f, limits)
    assert both.shape == (2, 3)
    assert both[0].tolist() == [0.25, 12.25, 25.0]  # the line 2t, continued at both ends
    assert both[1].tobytes() == kestrane.integrate(x, f[1], limits).tobytes()


@pytest.mark.parametrize("x, f", [([1.0], [1.0]), ([1.0, 1.0, 0.5], [1.0, 2.0, 3.0]),
                                  ([1.0, 2.0], [1.0, 2.0, 3.0])])
def test_tables_that_cannot_be_integrated_are_refused(x, f):
    with pytest.raises(ValueError):
        kestrane.integrate(x, f, [1.0])
