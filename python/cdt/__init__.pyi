"""Type stub of the cdt package."""

import datetime
import os
from typing import Any, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt
import pandas as pd

from ._cdt import FormatError as FormatError

TimeLike = Union[datetime.datetime, str, int, np.datetime64]
PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Blades = Union[int, Iterable[int], range]
Probes = Union[str, int, Iterable[Union[str, int]]]
Revolutions = Tuple[Optional[int], Optional[int]]

class UnknownProbeError(KeyError, ValueError): ...

class ProbeLines:
    name: str
    key: str
    channel: int
    blades: npt.NDArray[np.int64]
    rms: npt.NDArray[np.float32]
    dns: npt.NDArray[np.float64]
    blade_dns: npt.NDArray[np.float32]
    blade_toa: npt.NDArray[np.float32]

class Lines:
    time_us: npt.NDArray[np.uint64]
    @property
    def time(self) -> npt.NDArray[np.datetime64]: ...
    speed: npt.NDArray[np.float32]
    sync: npt.NDArray[np.bool_]
    start_rev: npt.NDArray[np.unsignedinteger[Any]]
    end_rev: npt.NDArray[np.unsignedinteger[Any]]
    probes: Dict[str, ProbeLines]
    stopped: Dict[str, Any]
    float_block: npt.NDArray[np.float32]
    double_block: npt.NDArray[np.float64]
    def __len__(self) -> int: ...
    def columns(self) -> List[str]: ...
    def to_pandas(self) -> pd.DataFrame: ...

class Recording:
    path: str
    salvage: bool
    encoding: Optional[str]
    finished: bool
    header: Dict[str, int]
    configuration: Dict[str, Any]
    configuration_text: str
    host_index: Optional[int]
    stopped: Optional[Dict[str, Any]]
    def __init__(self, path: PathLike, *, salvage: bool = ..., encoding: Optional[str] = ...) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Recording": ...
    def __exit__(self, *exc: Any) -> None: ...
    @property
    def probe_names(self) -> List[str]: ...
    @property
    def probe_keys(self) -> List[str]: ...
    @property
    def probe_channels(self) -> List[int]: ...
    def info(self) -> Dict[str, Any]: ...
    def columns(self, *, probes: Optional[Probes] = ..., blades: Optional[Blades] = ...) -> List[str]: ...
    def read(self, *, probes: Optional[Probes] = ..., blades: Optional[Blades] = ...,
             start: Optional[TimeLike] = ..., stop: Optional[TimeLike] = ...,
             revolutions: Optional[Revolutions] = ...) -> Lines: ...
    def to_pandas(self, *, probes: Optional[Probes] = ..., blades: Optional[Blades] = ...,
                  start: Optional[TimeLike] = ..., stop: Optional[TimeLike] = ...,
                  revolutions: Optional[Revolutions] = ...) -> pd.DataFrame: ...
    def iter_batches(self, rows: int = ..., *, probes: Optional[Probes] = ...,
                     blades: Optional[Blades] = ..., start: Optional[TimeLike] = ...,
                     stop: Optional[TimeLike] = ...,
                     revolutions: Optional[Revolutions] = ...) -> Iterator[Lines]: ...
    def profiles(self) -> Dict[str, npt.NDArray[Any]]: ...
    def parts(self, rows: int = ...) -> List[Tuple[Optional[int], Optional[int]]]: ...

def open(path: PathLike, *, salvage: bool = ..., encoding: Optional[str] = ...) -> Recording: ...
def convert(path: PathLike, out_dir: PathLike = ...) -> str: ...
def report(path: PathLike, out_dir: PathLike = ...) -> str: ...
