import os
from typing import Any, Iterator, Optional, Sequence, Union, overload

_Path = Union[str, bytes, os.PathLike]

__version__: str

class Error(Exception):
    status: int
    message: str
    detail: Optional[str]
    report: Optional[dict[str, Any]]
    def __init__(self, status: int, message: str, detail: Optional[str] = ...,
                 report: Optional[dict[str, Any]] = ...) -> None: ...

class Frame:
    @property
    def time_ns(self) -> int: ...
    @property
    def wire_length(self) -> int: ...
    @property
    def data(self) -> bytes: ...
    @property
    def link_type(self) -> int: ...
    @property
    def interface(self) -> int: ...
    @property
    def flags(self) -> int: ...

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
