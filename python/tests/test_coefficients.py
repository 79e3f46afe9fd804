# coefficients() against kestrane-batch --csv: the same rows, every number to the bit.
import pandas
import pytest

import kestrane
from conftest import assert_same_bits, batch_csv


@pytest.mark.parametrize("data_set, ages, regions, groups", [
    ("inhalation", "all", "all", [1, 2, 3, 4, 5, 6]),
    ("inhalation", "adult,infant", "Lung,Liver,3", [6, 1]),
    ("ingestion", "3650,1", "30,Adrenals,Heart-Wall", [4, 1]),
])
def test_table_equals_the_csv_files(workdir, data_set, ages, regions, groups):
    table = kestrane.coefficients(workdir, data_set=data_set, ages=ages, regions=regions)
    assert_same_bits(table, batch_csv(workdir, data_set, ages, regions, groups))


def test_lists_numbers_threads_and_arrays_give_the_same_rows(workdir):
    one = kestrane.coefficients(str(workdir), ages="adult,1", regions="Lung,Liver", threads=1)
    arrays = kestrane.coefficients(workdir, ages=["adult", 1], regions=["lung", 11], threads=3,
                                   as_arrays=True)
    pandas.testing.assert_frame_equal(one, pandas.DataFrame(arrays), check_exact=True)


def test_times_and_nuclides_choose_the_rows(workdir):
    table = kestrane.coefficients(workdir, ages="all", regions="Liver", times=[2.5, 40],
                                  nuclides="c-14, NA-22")
    assert sorted(set(table["nuclide"])) == ["C-14", "Na-22"]
    assert list(table["time_d"].unique()) == [2.5, 40.0]
    # A B record has both tables, an H record no low one.
    assert table.loc[table.nuclide == "C-14", ["low", "high"]].notna().all().all()
    assert table.loc[table.nuclide == "Na-22", "low"].isna().all()


def test_big_sample_table_equals_the_csv(big_sample):
    table = kestrane.coefficients(big_sample, ages="infant,adult", regions="all")
    assert_same_bits(table, batch_csv(big_sample, "inhalation", "infant,adult", "all", [1, 6]))
