# Each kind of refusal once: an input file refused, a bad choice, a missing file.
import pytest

import kestrane


def spoil_line(path, number, text):
    lines = path.read_bytes().split(b"\n")
    lines[number - 1] = text
    path.write_bytes(b"\n".join(lines))


def test_a_refused_record_is_an_input_error_with_its_parts(workdir):
    data = workdir / "DATA/KVR13INH.DRT"
    # Line 5 is the second data line of the record whose header is line 3.
    spoil_line(data, 5, b"5.000E-01 1.1x0E-11")
    with pytest.raises(kestrane.InputError) as table_refusal:
        kestrane.coefficients(workdir, ages="infant", regions="Adrenals")
    with pytest.raises(kestrane.InputError) as stream_refusal:
        list(kestrane.DoseRateFile(data).records())
    for error in (table_refusal.value, stream_refusal.value):
        assert error.file.endswith("KVR13INH.DRT")
        assert (error.line, error.record) == (5, 3)
        assert error.reason and error.reason in str(error)


def test_a_region_name_with_terminal_controls_is_escaped_in_the_valid_items(workdir):
    data = workdir / "DATA/KVR13INH.DRT"
    names = data.read_bytes().split(b"\n")[1].split(b" ")
    names[1] = b"\x1b]0;owned\x07"
    spoil_line(data, 2, b" ".join(names))
    with pytest.raises(ValueError) as refusal:
        kestrane.coefficients(workdir, regions="Kidney")
    assert "\\x1b]0;owned\\x07" in str(refusal.value)
    assert "\x1b" not in str(refusal.value) and "\x07" not in str(refusal.value)


@pytest.mark.parametrize("choice", [dict(ages="8"), dict(ages="infant,100"),
                                    dict(regions="Kidney"), dict(data_set="inhalatio"),
                                    dict(times=[]), dict(nuclides="Xx-1")])
def test_a_bad_choice_is_a_value_error(workdir, choice):
    with pytest.raises(ValueError):
        kestrane.coefficients(workdir, **choice)


def test_a_missing_file_is_file_not_found(workdir, tmp_path):
    (workdir / "data/Kestrane.ini").unlink()
    with pytest.raises(FileNotFoundError):
        kestrane.coefficients(workdir)
    with pytest.raises(FileNotFoundError):
        kestrane.DoseRateFile(tmp_path / "KVR13ING.DRT")


@pytest.mark.parametrize("name", ["DATA/KVR13INH.DRT", "data/Kestrane.ini"])
def test_a_folder_in_place_of_an_input_file_is_named_as_a_folder(workdir, name):
    path = workdir / name
    path.unlink()
    path.mkdir()
    with pytest.raises(kestrane.InputError) as refusal:
        kestrane.coefficients(workdir, ages="infant")
    assert str(refusal.value) == f"{path} is a folder, not a file."
    assert (refusal.value.file, refusal.value.line) == (str(path), 0)


def test_without_pandas_it_says_so_and_arrays_still_come(workdir, monkeypatch):
    monkeypatch.setitem(__import__("sys").modules, "pandas", None)
    with pytest.raises(ImportError, match="as_arrays=True"):
        kestrane.coefficients(workdir, ages="infant")
    arrays = kestrane.coefficients(workdir, ages="infant", regions="Liver", as_arrays=True)
    assert arrays["region"].tolist() == ["Liver"] * len(arrays["low"])
