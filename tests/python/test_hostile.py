"""Hostile input through the Python API: sizes at and past the record's length bound, texts that
cannot be UTF-8, NUL bytes, objects that lie about their length or raise from their methods, and
malformed invitations. Each gets its error, and the process and the vault's files survive it."""

from __future__ import annotations

import io
import itertools
import re
import sys
from collections.abc import Callable, Iterator
from typing import Any

import pytest

import ostrel
from load_support import Opener, journals, ratchet_file, workspace
from ostrel import Auth, NotFound, OstrelError, Selector, Vault
from workspace import Workspace, secret

MIB = 1 << 20
# A single length in a stored file is at most 16 MiB; a record whose body would pass it is refused.
LENGTH_LIMIT = 16 * MIB


@pytest.fixture
def hostile() -> Iterator[tuple[Workspace, Opener]]:
    with workspace("ostrel-hostile-", secret("app/db", "old", fields={"user": "admin"})) as ws:
        yield ws, Opener(ws, "alice", "bob")


@pytest.fixture
def files_survive(hostile: tuple[Workspace, Opener]) -> Iterator[Vault]:
    """A fresh session; afterwards the vault reopens for both users with its secret intact, no
    journal is left and the next write works."""
    ws, open_as = hostile
    yield open_as("alice")
    assert journals(ws) == []
    ratchet_file(ws).read_bytes()
    for reader in ("alice", "bob"):
        v = open_as(reader)
        assert (v.get("app/db"), v.fields("app/db")) == ("old", {"user": "admin"})
    open_as("bob").set("app/next", "works")
    assert open_as("alice").get("app/next") == "works"


# --- sizes -------------------------------------------------------------------------------------


def refused_length(e: pytest.ExceptionInfo[OstrelError]) -> int:
    """The record length a store refusal names."""
    assert type(e.value) is OstrelError
    found = re.search(r"^store error: .*Cord length limit exceeded: (\d+) exceeds maximum of (\d+)$", str(e.value))
    assert found and int(found[2]) == LENGTH_LIMIT, str(e.value)
    return int(found[1])


SIZED: list[tuple[str, Callable[[Vault, int], None], Callable[[Vault, int], Any]]] = [
    ("value", lambda v, n: v.set("app/big", b"v" * n), lambda v, n: len(v.get("app/big", as_bytes=True))),
    ("field value", lambda v, n: v.set_field("app/db2", "f", b"f" * n),
     lambda v, n: len(v.get_field("app/db2", "f", as_bytes=True))),
    ("field key", lambda v, n: v.set_field("app/db2", "k" * n, "x"), lambda v, n: v.get_field("app/db2", "k" * n)),
    ("segment", lambda v, n: v.set("app/" + "s" * n, "x"), lambda v, n: v.get("app/" + "s" * n)),
    ("label value", lambda v, n: v.set(Selector(["app"], {"l": "l" * n}), "x"),
     lambda v, n: v.get(Selector(["app"], {"l": "l" * n}))),
]


@pytest.mark.parametrize(("what", "write", "read"), SIZED, ids=[s[0] for s in SIZED])
def test_sizes_at_and_past_the_records_length_bound(
        files_survive: Vault, hostile: tuple[Workspace, Opener], what: str,
        write: Callable[[Vault, int], None], read: Callable[[Vault, int], Any]) -> None:
    ws, open_as = hostile
    v = files_survive
    v.set("app/db2", "base")
    vault_before = (ws.vault_dir / "vault.cord").read_bytes()
    ratchet_before = ratchet_file(ws).read_bytes()
    # Past the bound: the record cannot be stored, so the write fails and nothing changes.
    with pytest.raises(OstrelError) as caught:
        write(v, LENGTH_LIMIT + 1)
    # Every byte of the input is one byte of the record; the rest is the record's own.
    own = refused_length(caught) - (LENGTH_LIMIT + 1)
    assert 0 < own < 4096, own
    assert (ws.vault_dir / "vault.cord").read_bytes() == vault_before
    assert ratchet_file(ws).read_bytes() == ratchet_before
    assert v.get("app/db") == "old"
    # A record exactly at the bound is written and read back; one byte more is not. (Texts of
    # 16 MiB are slow to check for normal form, so only the value runs every step.)
    at = LENGTH_LIMIT - own
    if what == "value":
        with pytest.raises(OstrelError) as caught:
            write(v, at + 1)
        assert refused_length(caught) == LENGTH_LIMIT + 1
    write(v, at)
    got = read(open_as("bob"), at)
    assert got in (at, "x"), what


def test_huge_claimed_lengths_reserve_nothing(files_survive: Vault) -> None:
    class Liar:
        """Says it holds `claimed` items, holds the first of `items`."""

        def __init__(self, claimed: int, items: list[Any]) -> None:
            self.claimed, self.items = claimed, items

        def __len__(self) -> int:
            return self.claimed

        def __getitem__(self, i: int) -> Any:
            return self.items[i]

    # A value is read by its items, whatever its length says.
    files_survive.set("app/liar", Liar(sys.maxsize, [65, 66, 67]))  # type: ignore[arg-type]
    assert files_survive.get("app/liar") == "ABC"
    # A path is read by its length: one that ends early, or cannot be a size, is refused.
    for claimed in (sys.maxsize, 1 << 40, 2**100):
        with pytest.raises(TypeError, match="^argument 'path': "):
            Selector(Liar(claimed, ["app", "db"]))  # type: ignore[arg-type]
    assert Selector(Liar(2, ["app", "db"])).path == ("app", "db")  # type: ignore[arg-type]


class Repeating(list[int]):
    """A list whose iterator yields `items` items (None: without end)."""

    def __init__(self, items: int | None) -> None:
        super().__init__()
        self.items = items

    def __iter__(self) -> Iterator[int]:
        return itertools.repeat(ord("v")) if self.items is None else itertools.repeat(ord("v"), self.items)


class Claiming:
    """Claims `claimed` items; answers every index up to `holds` with `item` (reads counted)."""

    def __init__(self, claimed: int, item: object, holds: int | None = None) -> None:
        self.claimed, self.item, self.holds, self.reads = claimed, item, holds, 0

    def __len__(self) -> int:
        return self.claimed

    def __getitem__(self, i: int) -> object:
        self.reads += 1
        if self.holds is not None and i >= self.holds:
            raise IndexError(i)
        return self.item


def test_values_read_item_by_item_stop_at_the_length_bound(files_survive: Vault,
                                                            hostile: tuple[Workspace, Opener]) -> None:
    ws, _ = hostile
    v = files_survive
    vault_before = (ws.vault_dir / "vault.cord").read_bytes()
    ratchet_before = ratchet_file(ws).read_bytes()
    too_long = f"secret value is longer than {LENGTH_LIMIT} bytes"
    endless: list[tuple[str, object, str]] = [
        ("endless iterator", Repeating(None), too_long),
        ("length of 2**62, every index answered", Claiming(2**62, ord("v")), too_long),
        ("one item past the bound", Repeating(LENGTH_LIMIT + 1), too_long),
        # Not a sequence at all: refused before it is read.
        ("endless generator", (ord("v") for _ in itertools.count()), "secret value must be str or bytes"),
    ]
    writes: list[Callable[[Any], None]] = [lambda x: v.set("app/big", x), lambda x: v.set_field("app/db", "f", x)]
    for what, value, message in endless:
        for write in writes:
            with pytest.raises(OstrelError) as caught:
                write(value)
            assert (type(caught.value), str(caught.value)) == (OstrelError, message), what
    assert (ws.vault_dir / "vault.cord").read_bytes() == vault_before
    assert ratchet_file(ws).read_bytes() == ratchet_before
    # Exactly the bound is converted whole: the record around it is refused by the store just as
    # the same bytes given at once are.
    lengths = []
    for value in (Repeating(LENGTH_LIMIT), b"v" * LENGTH_LIMIT):
        with pytest.raises(OstrelError) as caught:
            v.set("app/big", value)
        lengths.append(refused_length(caught))
    assert lengths[0] == lengths[1] > LENGTH_LIMIT
    assert (ws.vault_dir / "vault.cord").read_bytes() == vault_before
    v.set("app/small", Repeating(3))
    assert v.get("app/small") == "vvv"


def test_invitations_and_paths_read_item_by_item_stop_at_their_bounds(files_survive: Vault) -> None:
    # An invitation may be as long as an invitation file.
    with pytest.raises(OstrelError) as caught:
        Auth.from_invite(Repeating(None))
    assert (type(caught.value), str(caught.value)) == (OstrelError, "invitation is longer than 269484032 bytes")
    # A path is read by index up to its length: one longer than the bound is refused before any
    # item is read; one of exactly the bound is read (and this one ends early).
    for claimed in (2**62, LENGTH_LIMIT + 1):
        path = Claiming(claimed, "a")
        with pytest.raises(TypeError, match=f"^argument 'path': a path holds at most {LENGTH_LIMIT} segments$"):
            Selector(path)  # type: ignore[arg-type]
        assert path.reads == 0
    path = Claiming(LENGTH_LIMIT, "a", holds=2)
    with pytest.raises(TypeError, match="^argument 'path': 2$"):
        Selector(path)  # type: ignore[arg-type]
    assert path.reads == 3


# --- texts ------------------------------------------------------------------------------------


def test_lone_surrogates_get_their_errors(files_survive: Vault) -> None:
    v = files_survive
    with pytest.raises(OstrelError, match="^secret value must be str or bytes$"):
        v.set("app/db", "\ud800")
    with pytest.raises(OstrelError, match="^secret value must be str or bytes$"):
        v.set_field("app/db", "user", "x\udfff")
    with pytest.raises(OstrelError, match="^expected a selector string or Selector$"):
        v.get("app/\ud800")
    with pytest.raises(OstrelError, match="^expected a selector string or Selector$"):
        v.list("\udc80")
    for call in (lambda: v.get_field("app/db", "\ud800"), lambda: v.set_field("app/db", "\ud800", "x"),
                 lambda: v.delete_field("app/db", "\ud800")):
        with pytest.raises(TypeError, match="^argument 'key': "):
            call()
    with pytest.raises(TypeError, match="^argument 'path': "):
        Selector(["app", "\ud800"])
    with pytest.raises(TypeError, match="^argument 'labels': "):
        Selector(["app"], {"k": "\udcff"})
    with pytest.raises(TypeError, match="^argument 'labels': "):
        Selector(["app"], {"\udcff": "v"})
    with pytest.raises(TypeError, match="^argument 'path': "):
        Vault("\ud800", auth=Auth.from_keychain())
    with pytest.raises(TypeError, match="^argument 'passphrase': "):
        Auth.from_keychain("alice", passphrase="\ud800")
    with pytest.raises(TypeError, match="^argument 'user': "):
        Auth.from_keychain("\ud800")
    with pytest.raises(OstrelError, match="^expected a string or file-like object$"):
        Auth.from_invite("\ud800")


def test_invalid_utf8_is_stored_as_bytes_and_refused_as_text(files_survive: Vault) -> None:
    v = files_survive
    for value in (b"\xff\xfe", b"\xc3", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xc0\xaf"):
        v.set("app/bin", value)
        assert v.get("app/bin", as_bytes=True) == value
        with pytest.raises(OstrelError, match="^secret is not valid UTF-8$"):
            v.get("app/bin")
        v.set_field("app/bin", "f", value)
        assert v.fields("app/bin", as_bytes=True) == {"f": value}
        with pytest.raises(OstrelError, match="^field value is not valid UTF-8$"):
            v.get_field("app/bin", "f")
    with pytest.raises(OstrelError, match="^expected a selector string or Selector$"):
        v.get(b"app/db")  # type: ignore[call-overload]


def test_nul_bytes_are_kept_whole(files_survive: Vault, hostile: tuple[Workspace, Opener]) -> None:
    v = files_survive
    v.set("app/a\0b", "a\0value")
    v.set_field("app/a\0b", "k\0x", "f\0v")
    bob = hostile[1]("bob")
    assert bob.get("app/a\0b") == "a\0value"
    assert bob.fields("app/a\0b") == {"k\0x": "f\0v"}
    # Cut at the NUL, these would name other secrets and fields.
    with pytest.raises(NotFound, match="^secret app/a not found$"):
        bob.get("app/a")
    with pytest.raises(NotFound, match='^secret app/a\0b has no field "k"$'):
        bob.get_field("app/a\0b", "k")
    assert [s.path for s in bob.list("app/a\0b")] == [("app", "a\0b")]
    assert str(Selector(["x\0y"], {"n\0": "v\0"})) == "x\0y@n\0=v\0"


# --- objects that raise ---------------------------------------------------------------------------


class Boom(Exception):
    pass


def boom(*_: object) -> Any:
    raise Boom


def test_objects_whose_methods_raise(files_survive: Vault, hostile: tuple[Workspace, Opener]) -> None:
    v = files_survive

    class RaisingItems:
        __len__ = boom
        __getitem__ = boom

    class RaisingIter(list[int]):
        __iter__ = boom

    class RaisingLater:
        def __getitem__(self, i: int) -> int:
            if i < 2:
                return 1
            raise Boom

    class BadInt:
        __index__ = boom
        __int__ = boom

    for value in (RaisingItems(), RaisingIter([1, 2]), RaisingLater(), [1, BadInt()], [1, 2**80], [-1]):
        with pytest.raises(OstrelError, match="^secret value must be str or bytes$"):
            v.set("app/db", value)  # type: ignore[arg-type]

    # A str subclass is read for its characters; none of its methods is called.
    class LoudStr(str):
        __str__ = __hash__ = __eq__ = __len__ = __iter__ = boom

    v.set(LoudStr("app/loud"), LoudStr("loud value"))
    v.set_field(LoudStr("app/loud"), LoudStr("k"), LoudStr("field"))
    assert (v.get("app/loud"), v.fields("app/loud")) == ("loud value", {"k": "field"})

    class LoudDict(dict[str, str]):
        items = keys = values = __iter__ = __getitem__ = boom

    assert str(Selector(["app"], LoudDict({"k": "v"}))) == "app@k=v"
    with pytest.raises(TypeError, match="^argument 'path': "):
        Selector(RaisingItems())  # type: ignore[arg-type]
    with pytest.raises(TypeError, match="^argument 'path': "):
        Selector(RaisingLater())  # type: ignore[arg-type]

    class BadBool:
        __bool__ = boom

    with pytest.raises(TypeError, match="^argument 'as_bytes': "):
        v.get("app/db", as_bytes=BadBool())  # type: ignore[call-overload]

    class BadRead:
        read = boom

    class ReadsForever:
        def read(self) -> ReadsForever:
            return self

    for invite in (BadRead(), ReadsForever(), io.BytesIO(b"")):
        try:
            auth = Auth.from_invite(invite)
        except OstrelError as e:
            assert str(e) == "expected a string or file-like object"
        else:  # the empty read is an invitation text that opening refuses
            with pytest.raises(OstrelError):
                Vault(str(hostile[0].vault_dir), auth=auth)


# --- exceptions outside Exception ---------------------------------------------------------------


def conversion_sites(v: Vault, raising: Callable[..., Any]) -> list[tuple[str, type[BaseException], Callable[[], object]]]:
    """Calls whose argument conversion runs `raising` in one of the caller's objects, each with the
    class of the error an ordinary exception there turns into."""

    class Iterated(list[int]):
        __iter__ = raising

    class Indexed:  # iterated by the sequence protocol, from index 0
        __getitem__ = raising

    class Sized:
        __len__ = raising
        __getitem__ = raising

    class TwoItems:
        def __len__(self) -> int:
            return 2

        __getitem__ = raising

    class BadIndex:
        __index__ = raising

    class BadClass:  # not a sequence: isinstance(x, Sequence) reads its __class__
        __class__ = property(raising)

    # Looks like numpy's boolean scalar, which is read through its __bool__.
    NumpyBool = type("bool_", (), {"__module__": "numpy", "__bool__": raising})

    class NameRaises(type):
        __name__ = property(raising)

    class Unnamed(metaclass=NameRaises):
        pass

    class Reader:
        read = raising

    class Keyword(str):
        __repr__ = raising

    return [
        ("value __iter__", OstrelError, lambda: v.set("app/db", Iterated())),
        ("value __getitem__", OstrelError, lambda: v.set("app/db", Indexed())),  # type: ignore[arg-type]
        ("value item __index__", OstrelError, lambda: v.set("app/db", [1, BadIndex()])),  # type: ignore[list-item]
        ("value __class__", OstrelError, lambda: v.set("app/db", BadClass())),  # type: ignore[arg-type]
        ("field value __iter__", OstrelError, lambda: v.set_field("app/db", "user", Iterated())),
        ("path __len__", TypeError, lambda: Selector(Sized())),  # type: ignore[arg-type]
        ("path __getitem__", TypeError, lambda: Selector(TwoItems())),  # type: ignore[arg-type]
        ("as_bytes __bool__", TypeError, lambda: v.get("app/db", as_bytes=NumpyBool())),
        ("type name of as_bytes", TypeError, lambda: v.get("app/db", as_bytes=Unnamed())),  # type: ignore[call-overload]
        ("keyword name __repr__", TypeError, lambda: v.get("app/db", **{Keyword("nope"): 1})),  # type: ignore[call-overload]
        ("invitation read()", OstrelError, lambda: Auth.from_invite(Reader())),
        ("invitation __iter__", OstrelError, lambda: Auth.from_invite(Iterated())),
    ]


@pytest.mark.parametrize("raised", [Boom(), KeyboardInterrupt(), SystemExit(3), GeneratorExit()],
                         ids=lambda e: type(e).__name__)
def test_exceptions_outside_exception_pass_through_conversion(files_survive: Vault, raised: BaseException) -> None:
    """An ordinary exception in the caller's object becomes the argument's error as before; a
    KeyboardInterrupt, SystemExit or GeneratorExit comes out unchanged, the very same object."""

    def raising(*_: object) -> Any:
        raise raised

    wrong = []
    for site, ordinary, call in conversion_sites(files_survive, raising):
        try:
            call()
        except BaseException as e:  # noqa: BLE001  (which one is what the test is about)
            got: BaseException | None = e
        else:
            got = None
        if (type(got) is not ordinary) if isinstance(raised, Exception) else (got is not raised):
            wrong.append((site, got))
    assert wrong == []
    assert files_survive.get("app/db") == "old"


# --- invitations ---------------------------------------------------------------------------------


def test_malformed_invitations_are_refused_at_opening(hostile: tuple[Workspace, Opener], files_survive: Vault) -> None:
    ws, open_as = hostile
    good = open_as.invites["alice"]
    cases: list[tuple[object, str]] = [
        ("ostr1" + "q" * 2000, "invitation string is malformed or has a bad checksum"),
        ("ostr1\0", "invitation string is malformed or has a bad checksum"),
        (b"\xff" * 64, "invitation string is malformed or has a bad checksum"),
        (b"\xff" * (20 * MIB), "invitation string is malformed or has a bad checksum"),
        (good[:-1], "Cord error: Unexpected end of input"),
        (good + b"\0", "Cord error: Trailing bytes after deserialization"),
    ]
    for invite, message in cases:
        with pytest.raises(OstrelError) as caught:
            Vault(str(ws.vault_dir), auth=Auth.from_invite(invite))  # type: ignore[arg-type]
        assert type(caught.value) is OstrelError and str(caught.value) == message, caught.value
    assert ostrel.Vault(str(ws.vault_dir), auth=Auth.from_invite(good)).get("app/db") == "old"
