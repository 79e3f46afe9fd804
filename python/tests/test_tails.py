# The rate models before the first and after the last tabulated time: the module gives the bits
# of kestrane-batch for every pair of models, integrate() those of its CSV files, the parts
# outside the table are the models' closed forms, and an unknown model is refused.
import itertools
import math
import subprocess

import numpy as np
import pytest

import kestrane
from conftest import BIN, assert_same_bits, batch_csv

BEFORE = ["extend", "zero", "constant", "linear"]
AFTER = ["extend", "zero", "constant", "exponential"]
PAIRS = list(itertools.product(BEFORE, AFTER))


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    """A small ingestion sample: records that start after 0 and rates that fall to their end."""
    target = tmp_path_factory.mktemp("tails")
    subprocess.run([BIN / "kestrane-sample", "--dir", target, "--size", "600K", "--seed", "11",
                    "--data-set", "ingestion"], check=True, stdout=subprocess.DEVNULL)
    return target


@pytest.mark.parametrize("before, after", PAIRS)
def test_module_gives_the_bits_of_kestrane_batch(sample, before, after):
    table = kestrane.coefficients(sample, data_set="ingestion", ages="infant,adult",
                                  regions="1,2,3,4,5,Lung", before=before, after=after)
    assert_same_bits(table, batch_csv(sample, "ingestion", "infant,adult", "1,2,3,4,5,Lung",
                                      [1, 6], ["--before", before, "--after", after]))


@pytest.mark.parametrize("before, after", [("extend", "extend"), ("linear", "exponential"),
                                           ("zero", "constant"), ("constant", "zero")])
def test_integrate_agrees_with_the_csv(sample, before, after):
    csv = batch_csv(sample, "ingestion", "infant", "1,2,3,4,5", [1],
                    ["--before", before, "--after", after])
    first = csv[csv.header_line == csv.header_line[0]]
    times = first[first.region == first.region[0]].time_d.to_numpy()
    drt = kestrane.DoseRateFile(sample / "DATA/KVR13ING.DRT")
    compared = 0
    for r in drt.records():
        rows = csv[csv.header_line == r.header_line]
        if rows.empty or r.points < 2:
            continue
        for table in ("low", "high"):
            rates = getattr(r, table)
            if rates is None:
                continue
            got = kestrane.integrate(r.times, rates[:, :5].T, times, before=before, after=after)
            for j, region in enumerate(drt.regions[:5]):
                want = rows[rows.region == region][table].to_numpy()
                assert got[j].tobytes() == want.tobytes(), (r.header_line, table, region)
                compared += 1
    assert compared >= 20


# f falls from 2 to 0.5 over its last two times, 2 to 4: lambda = ln(4) / 2.
X, F = [1.0, 2.0, 4.0], [3.0, 2.0, 0.5]
LAMBDA = math.log(4.0) / 2


@pytest.mark.parametrize("after, part", [
    ("zero", lambda span: 0.0),
    ("constant", lambda span: 0.5 * span),
    ("exponential", lambda span: 0.5 * -math.expm1(-LAMBDA * span) / LAMBDA),
])
def test_after_parts_are_the_closed_forms(after, part):
    limits = [4.0, 4.0 + 1e-9, 5.0, 30.0, 1e6]
    inside = kestrane.integrate(X, F, [4.0], after="zero")[0]
    got = kestrane.integrate(X, F, limits, after=after)
    for limit, value in zip(limits, got):
        assert value == pytest.approx(inside + part(limit - 4.0), rel=1e-13, abs=0)


@pytest.mark.parametrize("before, part", [
    ("zero", lambda t: 0.0),
    ("constant", lambda t: 3.0 * t),
    ("linear", lambda t: 3.0 * t * t / 2.0),
])
def test_before_parts_are_the_closed_forms(before, part):
    # Below the first time the integral is the part before alone; past it the part to x1
    # comes before the inside.
    assert kestrane.integrate(X, F, [0.25, 1.0], before=before).tolist() == [part(0.25),
                                                                              part(1.0)]
    inside = kestrane.integrate(X, F, [2.0], before="zero")[0]
    assert kestrane.integrate(X, F, [2.0], before=before)[0] == pytest.approx(
        part(1.0) + inside, rel=1e-15)


def test_rising_last_rates_fall_back_to_constant():
    x, f = [1.0, 2.0], [1.0, 2.0]
    assert (kestrane.integrate(x, f, [5.0], after="exponential").tobytes()
            == kestrane.integrate(x, f, [5.0], after="constant").tobytes())


def test_an_unknown_model_is_refused_naming_the_valid_ones(sample):
    with pytest.raises(ValueError, match="before: .*extend, zero, constant, linear"):
        kestrane.integrate(X, F, [3.0], before="exponential")
    with pytest.raises(ValueError, match="after: .*extend, zero, constant, exponential"):
        kestrane.coefficients(sample, data_set="ingestion", ages="1", regions="1",
                              after="linear")
