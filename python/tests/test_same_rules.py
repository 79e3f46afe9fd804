# One choice, one refusal: a bad choice made through kestrane-batch and through the module is
# refused for the same reason, in the same words, after the name of what was chosen.
import math
import subprocess

import numpy as np
import pytest

import kestrane
from conftest import BIN


def batch_refusal(workdir, *args):
    """The message of a kestrane-batch run refused with status 1 or 2, without its prefix."""
    run = subprocess.run([BIN / "kestrane-batch", "--dir", workdir, "--data-set", "inhalation",
                          *args], capture_output=True, text=True)
    assert run.returncode in (1, 2), run
    return run.stderr.splitlines()[0].removeprefix("kestrane-batch: ")


def write_times(workdir, *values):
    (workdir / "data/Kestrane.ini").write_text("Times\nSTART\n" + "\n".join(values) + "\nEND\n")


# (the batch options, the module's keywords, the choice refused, the words of the refusal)
CHOICES = [
    (["--ages", "8", "--regions", "1"], dict(ages="8", regions="1"), "ages",
     ': unknown item "8".'),
    (["--ages", "1,100", "--regions", "1"], dict(ages="1,100", regions="1"), "ages",
     ': "100" repeats age group 1'),
    (["--ages", " ", "--regions", "1"], dict(ages=" ", regions="1"), "ages",
     ": the list is empty."),
    (["--ages", "1", "--regions", "Kidney"], dict(ages="1", regions="Kidney"), "regions",
     ': unknown item "Kidney".'),
    (["--ages", "1", "--regions", "Liver,liver"], dict(ages="1", regions="Liver,liver"),
     "regions", ': "liver" repeats region'),
    (["--ages", "1", "--regions", "1", "--nuclides", "Sr-89,,I-129"],
     dict(ages="1", regions="1", nuclides="Sr-89,,I-129"), "nuclides",
     ": an empty item in the list"),
]


@pytest.mark.parametrize("options, keywords, label, words", CHOICES)
def test_a_bad_choice_is_refused_alike(workdir, options, keywords, label, words):
    from_batch = batch_refusal(workdir, *options)
    with pytest.raises(ValueError) as from_module:
        kestrane.coefficients(workdir, **keywords)
    # The same text after the label: "--ages: ..." from the program, "ages: ..." from Python.
    assert from_batch.startswith(f"--{label}{words}"), from_batch
    assert from_batch.removeprefix("--") == str(from_module.value)


# (the line of data/Kestrane.ini, the same time given to the module)
TIMES = [("-5", -5), ("-0.5", -0.5), ("nan", math.nan), ("inf", math.inf), ("-inf", -math.inf),
         ("1e39", 1e39), ("3.4028236e38", 3.4028236e38)]


@pytest.mark.parametrize("line, value", TIMES)
def test_a_refused_time_has_one_reason(workdir, line, value):
    write_times(workdir, "1", line)
    from_batch = batch_refusal(workdir, "--ages", "1", "--regions", "1")
    reason = from_batch[from_batch.index(f'"{line}" ') + len(line) + 3:]
    assert reason.endswith("; every integration time must be a finite number of days, 0 or more.")
    with pytest.raises(ValueError) as from_module:
        kestrane.coefficients(workdir, ages="1", regions="1", times=[1, value])
    assert str(from_module.value) == f"times: the integration time {value!r} {reason}"
    with pytest.raises(ValueError) as from_integrate:
        kestrane.integrate([1, 2], [3, 2], [value])
    assert str(from_integrate.value) == f"integrate: upper: the integration time {value!r} {reason}"


@pytest.mark.parametrize("times", [["1"], [1, b"2"], [None], "1,2", 5])
def test_a_time_that_is_not_a_real_number_is_a_type_error(workdir, times):
    with pytest.raises(TypeError, match="^times: "):
        kestrane.coefficients(workdir, ages="1", regions="1", times=times)
    with pytest.raises(TypeError, match="^integrate: upper: "):
        kestrane.integrate([1, 2], [3, 2], times)


def test_times_the_programs_take_are_taken_in_every_form(workdir):
    write_times(workdir, "0", "2", "30")
    from_file = kestrane.coefficients(workdir, ages="1", regions="1", as_arrays=True)
    for given in ([0, 2.0, 30], (0, 2, 30), np.array([0.0, 2, 30]), [np.float32(0), 2, 30]):
        table = kestrane.coefficients(workdir, ages="1", regions="1", times=given,
                                      as_arrays=True)
        assert np.array_equal(table["low"], from_file["low"], equal_nan=True)
    assert kestrane.integrate([1, 2], [3, 2], np.array([0.0, 1.5])).shape == (2,)


@pytest.mark.parametrize("line, value", TIMES + [("50y", None), ("1.5.2", None)])
def test_a_refused_time_of_the_file_is_refused_alike(workdir, line, value):
    write_times(workdir, "1", line)
    from_batch = batch_refusal(workdir, "--ages", "1", "--regions", "1")
    assert from_batch.startswith("data/Kestrane.ini, line 4: ")
    with pytest.raises(kestrane.InputError) as from_module:
        kestrane.coefficients(workdir, ages="1", regions="1")
    assert from_module.value.file.endswith("Kestrane.ini")
    assert from_module.value.line == 4
    assert from_module.value.reason == from_batch.removeprefix("data/Kestrane.ini, line 4: ")
