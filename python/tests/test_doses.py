# kestrane.doses and kestrane.Scheme: the dose table is kestrane-batch's dose file to the bit,
# a scheme or an age refused is refused in the program's words, and Scheme reads the example.
import shutil
import subprocess

import pandas as pd
import pytest

import kestrane
from conftest import AGE_DAYS, BIN, SOURCE
from test_same_rules import batch_refusal

EXAMPLE = SOURCE / "docs/schemes/icrp60-example.toml"


@pytest.fixture(scope="module")
def sample_dir(tmp_path_factory):
    """A small sample working directory (both data sets, the example's region names)."""
    target = tmp_path_factory.mktemp("dose_sample")
    subprocess.run([BIN / "kestrane-sample", "--dir", target, "--size", "300K", "--seed", "11"],
                   check=True, stdout=subprocess.DEVNULL)
    return target


@pytest.fixture
def sample(sample_dir, tmp_path):
    target = tmp_path / "sample"
    shutil.copytree(sample_dir, target)
    return target


def batch_doses(workdir, data_set, groups, options=()):
    """Runs kestrane-batch --scheme EXAMPLE and reads the dose files of `groups`, in order."""
    ages = ",".join(str(g) for g in groups)
    subprocess.run([BIN / "kestrane-batch", "--dir", workdir, "--data-set", data_set, "--ages",
                    ages, "--regions", "1", "--scheme", EXAMPLE, *options], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    letter = "h" if data_set == "inhalation" else "g"
    files = [workdir / "OUTPUT" / f"DC{AGE_DAYS[g - 1]}{letter}-dose.csv" for g in groups]
    return pd.concat([pd.read_csv(f, float_precision="round_trip") for f in files],
                     ignore_index=True)


@pytest.mark.parametrize("data_set", ["inhalation", "ingestion"])
@pytest.mark.parametrize("to_age", [None, 70, 20.5])
def test_doses_are_the_dose_files_to_the_bit(sample, data_set, to_age):
    groups = [6, 1, 4]
    options = () if to_age is None else ("--to-age", str(to_age))
    from_files = batch_doses(sample, data_set, groups, options)
    ages = ",".join(str(g) for g in groups)
    table = kestrane.doses(sample, data_set=data_set, ages=ages, scheme=EXAMPLE, to_age=to_age)
    # pandas reads whole times as integers; the table's are the same numbers as doubles.
    from_files = from_files.astype({"time_d": "float64"})
    pd.testing.assert_frame_equal(table, from_files, check_exact=True)
    assert table["tissue"].isna().sum() == (table["quantity"] == "effective").sum() > 0
    arrays = kestrane.doses(sample, data_set=data_set, ages=ages,
                            scheme=kestrane.Scheme(EXAMPLE), to_age=to_age, as_arrays=True)
    assert list(arrays) == list(from_files.columns)
    pd.testing.assert_frame_equal(pd.DataFrame(arrays), from_files, check_exact=True)


# A scheme file (text; None for none) and its refusal after "FILE, ".
SCHEMES = [
    ('name = "x"\n[radiation]\nlow = 1 0\n', "line 3: the file is not TOML"),
    (EXAMPLE.read_text().replace("Bone = 1.0", "Bone = -1.0"),
     'line 71: the fraction of "Bone" in tissue "Bone surface" must not be negative: -1'),
    (EXAMPLE.read_text().replace('"Thymus"', '"Thymys"'), 'line 77: unknown region "Thymys"'),
]


@pytest.mark.parametrize("text, words", SCHEMES)
def test_a_scheme_is_refused_alike(sample, text, words):
    path = sample / "scheme.toml"
    path.write_text(text)
    from_batch = batch_refusal(sample, "--ages", "1", "--regions", "1", "--scheme", path)
    assert from_batch.startswith(f"{path}, {words}"), from_batch
    with pytest.raises(ValueError) as from_module:
        kestrane.doses(sample, ages="1", scheme=path)
    assert str(from_module.value) == from_batch


@pytest.mark.parametrize("ages, years", [("2", 1), ("1", 0), ("1", -5), ("adult", 20)])
def test_an_age_is_refused_alike(sample, ages, years):
    from_batch = batch_refusal(sample, "--ages", ages, "--regions", "1", "--to-age", str(years),
                               "--scheme", EXAMPLE)
    assert from_batch.startswith("--to-age: "), from_batch
    with pytest.raises(ValueError) as from_module:
        kestrane.doses(sample, ages=ages, scheme=EXAMPLE, to_age=years)
    assert str(from_module.value) == from_batch.replace("--to-age", "to_age", 1)


def test_scheme_reads_the_shipped_example():
    scheme = kestrane.Scheme(EXAMPLE)
    assert scheme.name == "Example after ICRP Publication 60"
    assert scheme.radiation == {"low": 1.0, "high": 20.0}
    assert [(t["name"], t["weight"]) for t in scheme.tissues] == [
        ("Gonads", 0.2), ("Red marrow", 0.12), ("Colon", 0.12), ("Lung", 0.12),
        ("Stomach", 0.12), ("Bladder", 0.05), ("Breast", 0.05), ("Liver", 0.05),
        ("Oesophagus", 0.05), ("Thyroid", 0.05), ("Skin", 0.01), ("Bone surface", 0.01)]
    assert list(scheme.tissues[2]["regions"].items()) == [("UpperLI", 0.57), ("LowerLI", 0.43)]
    assert scheme.remainder == {
        "weight": 0.05, "split": True,
        "regions": ["Adrenals", "Brain", "SmallInt", "Kidneys", "Muscle", "Pancreas", "Spleen",
                    "Thymus", "Uterus"]}
    assert repr(scheme).startswith(
        "<kestrane.Scheme 'Example after ICRP Publication 60': low 1, high 20; Gonads 0.2, ")
    assert repr(scheme).endswith("Remainder 0.05 of 9 regions (split)>")


def test_scheme_refuses_a_malformed_file_at_its_line_and_a_missing_one(tmp_path):
    path = tmp_path / "bad.toml"
    path.write_text(EXAMPLE.read_text().replace("weight = 0.20", "weight = \"0.20\""))
    with pytest.raises(ValueError, match="^" + str(path) + ", line 15: the weight of tissue "
                       '"Gonads" must be a number, not a string$'):
        kestrane.Scheme(path)
    with pytest.raises(FileNotFoundError):
        kestrane.Scheme(tmp_path / "missing.toml")
    with pytest.raises(FileNotFoundError):
        kestrane.doses(tmp_path, scheme=tmp_path / "missing.toml")


@pytest.mark.parametrize("years", ["70", True, [70]])
def test_an_age_that_is_no_number_is_a_type_error(sample, years):
    with pytest.raises(TypeError, match="^to_age: give a real number of years, not "):
        kestrane.doses(sample, ages="1", scheme=EXAMPLE, to_age=years)
