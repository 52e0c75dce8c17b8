"""Auth: the class methods only record the choice; argument conversion; repr never shows it."""

import io
import pathlib

import pytest

from ostrel import Auth, OstrelError


def test_repr_names_the_road_and_never_the_values() -> None:
    assert repr(Auth.from_keychain()) == "Auth.from_keychain(...)"
    assert repr(Auth.from_keychain("alice", passphrase="hunter2")) == "Auth.from_keychain(...)"
    assert repr(Auth.from_keychain(None, passphrase=None)) == "Auth.from_keychain(...)"
    assert repr(Auth.from_invite("ostr1whatever")) == "Auth.from_invite(...)"
    assert repr(Auth.from_env()) == "Auth.from_env(...)"
    assert repr(Auth.from_env(invite="NOT_SET_ANYWHERE", invite_file="NOR_THIS")) == "Auth.from_env(...)"


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda: Auth.from_keychain(passphrase=5), "passphrase"),
        (lambda: Auth.from_keychain(b"user"), "user"),
        (lambda: Auth.from_env(invite=None), "invite"),
        (lambda: Auth.from_env(invite_file=3), "invite_file"),
    ],
)
def test_type_errors_name_the_argument(call, name) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(TypeError, match=f"^argument '{name}': "):
        call()


def test_invitations_are_accepted_undecoded(scratch: pathlib.Path) -> None:
    f = scratch / "invite.bin"
    f.write_bytes(b"\x00\x01 not an invitation")
    inputs = [
        "not an invitation",
        b"not an invitation either",
        bytearray(b"xyz"),
        [1, 2, 3],
        io.StringIO("text from a file"),
        io.BytesIO(b"bytes from a file"),
    ]
    for invite in inputs:
        assert repr(Auth.from_invite(invite)) == "Auth.from_invite(...)"
    with open(f, "rb") as handle:
        Auth.from_invite(handle)
    Auth.from_invite(invite=f.read_text(errors="replace"))


class Wrapping:
    """A file-like object whose read() hands back another file-like object."""

    def __init__(self, depth: int) -> None:
        self.depth = depth
        self.reads = 0

    def read(self) -> object:
        self.reads += 1
        return Wrapping(self.depth - 1) if self.depth > 1 else "the invitation text"


class Endless:
    """read() returns itself: following it would never end."""

    def __init__(self) -> None:
        self.reads = 0

    def read(self) -> object:
        self.reads += 1
        return self


def test_read_results_are_followed_a_few_times_then_refused() -> None:
    Auth.from_invite(Wrapping(4))
    endless = Endless()
    with pytest.raises(OstrelError, match="^expected a string or file-like object$"):
        Auth.from_invite(endless)
    assert endless.reads == 4
    with pytest.raises(OstrelError, match="^expected a string or file-like object$"):
        Auth.from_invite(Wrapping(5))


class Failing:
    def read(self) -> str:
        raise ValueError("disk on fire")


@pytest.mark.parametrize("invite", [42, 3.5, None, object(), Failing(), [256], ["a"], "\ud800"])
def test_anything_else_is_refused_with_the_converters_error(invite: object) -> None:
    with pytest.raises(OstrelError) as caught:
        Auth.from_invite(invite)  # type: ignore[arg-type]
    assert type(caught.value) is OstrelError
    assert str(caught.value) == "expected a string or file-like object"
