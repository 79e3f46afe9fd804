# Shared fixtures of the module's tests: the programs of the build, a copy of the run tests'
# working directory, kestrane-batch --csv runs and the comparison of a table with CSV files.
import os
import pathlib
import shutil
import subprocess

import numpy as np
import pytest

SOURCE = pathlib.Path(os.environ.get("KESTRANE_SOURCE", pathlib.Path(__file__).parents[2]))
BUILD = pathlib.Path(os.environ.get("KESTRANE_BUILD", SOURCE / "build"))
BIN = pathlib.Path(os.environ.get("KESTRANE_BIN", BUILD / "bin"))
AGE_DAYS = [100, 365, 1825, 3650, 5475, 7300]


@pytest.fixture
def workdir(tmp_path):
    """A copy of the run tests' working directory (DATA, data)."""
    target = tmp_path / "run"
    shutil.copytree(SOURCE / "tests/data/app/run", target)
    return target


@pytest.fixture(scope="session")
def big_sample(tmp_path_factory):
    """A 96 MiB inhalation sample working directory written by kestrane-sample."""
    target = tmp_path_factory.mktemp("big")
    subprocess.run([BIN / "kestrane-sample", "--dir", target, "--size", "96M", "--seed", "7",
                    "--data-set", "inhalation"], check=True, stdout=subprocess.DEVNULL)
    return target


def batch_csv(workdir, data_set, ages, regions, groups, options=()):
    """Runs kestrane-batch --csv (with `options`) and reads the CSV files of `groups`
    (1-based), in order."""
    import pandas as pd

    subprocess.run([BIN / "kestrane-batch", "--dir", workdir, "--data-set", data_set, "--ages",
                    ages, "--regions", regions, "--csv", *options], check=True,
                   stdout=subprocess.DEVNULL)
    letter = "h" if data_set == "inhalation" else "g"
    files = [workdir / "OUTPUT" / f"DC{AGE_DAYS[g - 1]}{letter}.csv" for g in groups]
    return pd.concat([pd.read_csv(f, float_precision="round_trip", keep_default_na=False,
                                  na_values=[""]) for f in files], ignore_index=True)


def assert_same_bits(table, csv):
    """Every column of the CSV equals the table's, numbers to the bit (NaN for an empty cell).

    A CSV without the header_line column is of the older form, which writes 0 for a table
    the record lacks and has no shares."""
    assert len(table) == len(csv)
    older = "header_line" not in csv.columns
    for column in csv.columns:
        ours, theirs = table[column].to_numpy(), csv[column].to_numpy()
        if theirs.dtype.kind == "f" or ours.dtype.kind == "f":
            ours, theirs = ours.astype(float), theirs.astype(float)
            if older:
                ours = np.where(np.isnan(ours), 0.0, ours)
            assert np.array_equal(np.isnan(ours), np.isnan(theirs)), column
            same = np.isnan(ours) | (ours.view(np.int64) == theirs.view(np.int64))
            assert same.all(), (column, np.flatnonzero(~same)[:5])
        else:
            assert (ours.astype(str) == theirs.astype(str)).all(), column
