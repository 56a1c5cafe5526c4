import os
from typing import Any, Iterator, NamedTuple, Optional, Sequence, Union, overload

_Path = Union[str, bytes, os.PathLike]

__version__: str

class Error(Exception):
    status: int
    message: str
    detail: Optional[str]
    report: Optional[dict[str, Any]]
    def __init__(self, status: int, message: str, detail: Optional[str] = ...,
                 report: Optional[dict[str, Any]] = ...) -> None: ...

class Frame(NamedTuple):
    """One frame; a tuple of its six fields, in this order."""
    time_ns: int
    wire_length: int
    data: bytes
    link_type: int
    interface: int
    flags: int

def formats() -> list[dict[str, Any]]: ...
def identify(path: _Path) -> dict[str, Any]: ...
@overload
def frames(path: _Path, *, batch_size: None = ..., salvage: bool = ...,
           source_tz: Optional[str] = ...) -> Iterator[Frame]: ...
@overload
def frames(path: _Path, *, batch_size: int, salvage: bool = ...,
           source_tz: Optional[str] = ...) -> Iterator[list[Frame]]: ...
def convert(source: _Path, to: str, output: Optional[_Path] = ...,
            **options: Union[str, int, bool, Sequence[Union[str, int]], os.PathLike, None]
            ) -> dict[str, Any]: ...
