# Types of the ostrel module (a C++ extension on the CPython limited API).
from collections.abc import Sequence
from typing import Literal, Protocol, final, overload

__all__ = [
    "Auth",
    "Selector",
    "OstrelError",
    "NotFound",
    "PermissionDenied",
    "ConflictError",
    "ValidationError",
    "IdentityError",
]

class _Readable(Protocol):
    def read(self) -> str | bytes | bytearray | Sequence[int] | _Readable: ...

_Bytes = bytes | bytearray | Sequence[int]
_SelectorArg = str | Selector

@final
class Auth:
    @classmethod
    def from_keychain(cls, user: str | None = None, *, passphrase: str | None = None) -> Auth: ...
    @classmethod
    def from_invite(cls, invite: str | _Bytes | _Readable) -> Auth: ...
    @classmethod
    def from_env(cls, *, invite: str = ..., invite_file: str = ...) -> Auth: ...

@final
class Selector:
    def __new__(cls, path: Sequence[str], labels: dict[str, str] | None = None) -> Selector: ...
    @property
    def path(self) -> tuple[str, ...]: ...
    @property
    def labels(self) -> dict[str, str]: ...

class OstrelError(Exception): ...
class NotFound(OstrelError): ...
class PermissionDenied(OstrelError): ...
class ConflictError(OstrelError): ...
class ValidationError(OstrelError): ...
class IdentityError(OstrelError): ...
