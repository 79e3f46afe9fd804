# Type stub of the Python module kestrane: absorbed dose coefficients from tabulated dose rates.
import os
from typing import Iterator, Literal, Sequence, overload

import numpy as np
import numpy.typing as npt
import pandas as pd

class InputError(Exception):
    """An input file refused, as the programs refuse it."""

    file: str
    line: int
    record: int | None
    reason: str

class Record:
    """One nuclide record of a dose-rate file."""

    @property
    def nuclide(self) -> str: ...
    @property
    def age_days(self) -> int: ...
    @property
    def class_or_f1(self) -> str: ...
    @property
    def header_line(self) -> int: ...
    @property
    def header(self) -> str: ...
    @property
    def table_code(self) -> str: ...
    @property
    def points(self) -> int: ...
    @property
    def times(self) -> npt.NDArray[np.float64]: ...
    @property
    def low(self) -> npt.NDArray[np.float64] | None: ...
    @property
    def high(self) -> npt.NDArray[np.float64] | None: ...

class RecordStream(Iterator[Record]):
    def __iter__(self) -> RecordStream: ...
    def __next__(self) -> Record: ...

class DoseRateFile:
    """A dose-rate file: title, region names and its records, streamed."""

    def __init__(
        self,
        path: str | os.PathLike[str],
        data_set: Literal["inhalation", "ingestion"] | None = None,
    ) -> None: ...
    @property
    def title(self) -> str: ...
    @property
    def regions(self) -> list[str]: ...
    @property
    def data_set(self) -> str: ...
    @property
    def path(self) -> str: ...
    def records(self) -> RecordStream: ...

_Choice = str | Sequence[str | int]
_Before = Literal["extend", "zero", "constant", "linear"]
_After = Literal["extend", "zero", "constant", "exponential"]

@overload
def coefficients(
    workdir: str | os.PathLike[str],
    *,
    data_set: Literal["inhalation", "ingestion"] = "inhalation",
    ages: _Choice = "all",
    regions: _Choice = "all",
    times: Sequence[float] | None = None,
    nuclides: str | Sequence[str] | None = None,
    threads: int = 0,
    as_arrays: Literal[False] = False,
    before: _Before = "extend",
    after: _After = "extend",
) -> pd.DataFrame: ...
@overload
def coefficients(
    workdir: str | os.PathLike[str],
    *,
    data_set: Literal["inhalation", "ingestion"] = "inhalation",
    ages: _Choice = "all",
    regions: _Choice = "all",
    times: Sequence[float] | None = None,
    nuclides: str | Sequence[str] | None = None,
    threads: int = 0,
    as_arrays: Literal[True],
    before: _Before = "extend",
    after: _After = "extend",
) -> dict[str, npt.NDArray]: ...
class Scheme:
    """A weighting scheme (TOML), read and checked; see the README's Doses section."""
    def __init__(self, path: str | os.PathLike[str]) -> None: ...
    @property
    def path(self) -> str: ...
    @property
    def name(self) -> str: ...
    @property
    def radiation(self) -> dict[str, float]: ...
    @property
    def tissues(self) -> list[dict[str, object]]: ...
    @property
    def remainder(self) -> dict[str, object]: ...

@overload
def doses(
    workdir: str | os.PathLike[str],
    *,
    data_set: Literal["inhalation", "ingestion"] = "inhalation",
    ages: _Choice = "all",
    scheme: str | os.PathLike[str] | Scheme,
    times: Sequence[float] | None = None,
    nuclides: str | Sequence[str] | None = None,
    to_age: float | None = None,
    threads: int = 0,
    as_arrays: Literal[False] = False,
) -> pd.DataFrame: ...
@overload
def doses(
    workdir: str | os.PathLike[str],
    *,
    data_set: Literal["inhalation", "ingestion"] = "inhalation",
    ages: _Choice = "all",
    scheme: str | os.PathLike[str] | Scheme,
    times: Sequence[float] | None = None,
    nuclides: str | Sequence[str] | None = None,
    to_age: float | None = None,
    threads: int = 0,
    as_arrays: Literal[True],
) -> dict[str, npt.NDArray]: ...
def integrate(
    x: npt.ArrayLike,
    f: npt.ArrayLike,
    upper: npt.ArrayLike,
    before: _Before = "extend",
    after: _After = "extend",
) -> npt.NDArray[np.float64]: ...
