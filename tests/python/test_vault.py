"""Vault: the three opening roads and their messages, the methods, the selector and value
conversions, and the mapping of every failure onto the module's exception classes."""

from __future__ import annotations

import os
import pathlib
import shutil
from collections.abc import Iterator

import pytest

import ostrel
from ostrel import (
    Auth,
    ConflictError,
    IdentityError,
    NotFound,
    OstrelError,
    PermissionDenied,
    Selector,
    ValidationError,
    Vault,
)
from workspace import PASSPHRASE, Workspace, members, secret

SECRETS = [
    secret("app/db", "hunter2", fields={"user": "admin", "host": "db.local", "blob": {"value_hex": "ff"}}),
    secret("app/db@env=prod", "prod-pw"),
    secret("app/api", value_hex="c3a9ff"),
    secret("ab", "not under app"),
    secret("ops/key", "alice only"),
]


@pytest.fixture(scope="module")
def ws() -> Iterator[Workspace]:
    import tempfile

    base = pathlib.Path(tempfile.mkdtemp(prefix="ostrel-vault-"))
    for word in ("keychain", "identity"):
        assert word not in str(base)
    w = Workspace(base, members(*SECRETS))
    w.add_keychain("alice", "bob", current="alice")
    yield w
    import shutil

    shutil.rmtree(base, ignore_errors=True)


@pytest.fixture
def env(ws: Workspace) -> Iterator[Workspace]:
    with ws.environment():
        yield ws


def alice(ws: Workspace) -> Vault:
    return Vault(str(ws.vault_dir), auth=Auth.from_keychain("alice", passphrase=PASSPHRASE))


def bob(ws: Workspace) -> Vault:
    return Vault(str(ws.vault_dir), auth=Auth.from_invite(ws.invite_bytes("bob").read_bytes()))


# --- the class ------------------------------------------------------------------------------


def test_signatures_of_the_class_and_its_methods() -> None:
    assert Vault.__text_signature__ == "(path=..., *, auth=None)"
    expected = {
        "get": "($self, selector, *, as_bytes=False)",
        "set": "($self, selector, value)",
        "delete": "($self, selector)",
        "fields": "($self, selector, *, as_bytes=False)",
        "get_field": "($self, selector, key, *, as_bytes=False)",
        "set_field": "($self, selector, key, value)",
        "delete_field": "($self, selector, key)",
        "list": "($self, selector=None)",
        "__enter__": "($self)",
        "__exit__": "($self, _exc_type, _exc_value, _traceback)",
    }
    for name, signature in expected.items():
        assert getattr(Vault, name).__text_signature__ == signature, name
    assert Vault.fields.__doc__.startswith("The secret's additional key\u2192value fields as a dict.")
    assert Vault.get.__doc__ in (None, "")


def test_the_constructor_checks_its_arguments_first(env: Workspace) -> None:
    with pytest.raises(TypeError, match="^argument 'path': "):
        Vault(None)  # type: ignore[arg-type]
    with pytest.raises(TypeError, match="^argument 'path': "):
        Vault(pathlib.Path(env.vault_dir))  # type: ignore[arg-type]
    with pytest.raises(TypeError, match="^argument 'auth': "):
        Vault(str(env.vault_dir), auth="alice")  # type: ignore[arg-type]
    with pytest.raises(TypeError, match=r"takes from 0 to 1 positional arguments but 2 were given"):
        Vault(str(env.vault_dir), Auth.from_keychain())  # type: ignore[misc]


def test_default_path_is_dot_ostrel_with_the_keychains_current_user(env: Workspace) -> None:
    old = os.getcwd()
    os.chdir(env.dir)
    try:
        for v in (Vault(auth=Auth.from_keychain(passphrase=PASSPHRASE)),
                  Vault(".ostrel", auth=Auth.from_keychain(passphrase=PASSPHRASE)),
                  Vault(path=".ostrel/", auth=Auth.from_keychain(passphrase=PASSPHRASE))):
            assert v.get("ops/key") == "alice only"
    finally:
        os.chdir(old)


def tree(folder: pathlib.Path) -> dict[str, bytes | None]:
    """Every entry under `folder`: a file's bytes, None for a folder."""
    return {str(p.relative_to(folder)): None if p.is_dir() else p.read_bytes() for p in sorted(folder.rglob("*"))}


@pytest.mark.parametrize("relative", ["vault path", "state directory", "both"])
@pytest.mark.parametrize("elsewhere", ["a copy of the workspace", "an empty folder"])
def test_relative_paths_keep_naming_where_the_vault_was_opened(scratch: pathlib.Path, relative: str,
                                                               elsewhere: str) -> None:
    here, there = scratch / "here", scratch / "there"
    here.mkdir()
    w = Workspace(here, members(secret("app/db", "old")))
    invite = w.invite_bytes("alice").read_bytes()
    vault_path = "ws/.ostrel" if relative != "state directory" else str(w.vault_dir)
    state_dir = "state" if relative != "vault path" else str(w.state_dir)
    old = os.getcwd()
    try:
        os.chdir(here)
        with w.environment(OSTREL_STATE_DIR=state_dir):
            v = Vault(vault_path, auth=Auth.from_invite(invite))
        if elsewhere == "an empty folder":
            there.mkdir()
        else:
            shutil.copytree(here, there)
        before = tree(there)
        os.chdir(there)
        v.set("app/db", "new")
    finally:
        os.chdir(old)
    assert tree(there) == before
    with w.environment():
        assert Vault(str(w.vault_dir), auth=Auth.from_invite(invite)).get("app/db") == "new"


def test_a_path_holding_a_nul_is_refused_not_cut_short(env: Workspace) -> None:
    # Cut at the NUL, this path would name the real workspace.
    with pytest.raises(OstrelError) as caught:
        Vault(str(env.vault_dir) + "\0/elsewhere", auth=Auth.from_keychain("alice", passphrase=PASSPHRASE))
    assert type(caught.value) is OstrelError
    assert "Invalid argument (os error 22)" in str(caught.value)


# --- reading ------------------------------------------------------------------------------------


def test_get_as_text_and_bytes(env: Workspace) -> None:
    v = alice(env)
    assert v.get("app/db") == "hunter2"
    assert v.get(Selector(["app", "db"])) == "hunter2"
    assert v.get("app/db", as_bytes=True) == b"hunter2"
    assert v.get("app/db@env=prod") == "prod-pw"
    assert v.get(Selector(["app", "db"], {"env": "prod"})) == "prod-pw"
    with pytest.raises(OstrelError, match="^secret is not valid UTF-8$"):
        v.get("app/api")
    assert v.get("app/api", as_bytes=True) == b"\xc3\xa9\xff"


@pytest.mark.parametrize("flag", [1, 0, None, "yes"])
def test_as_bytes_must_be_a_bool(env: Workspace, flag: object) -> None:
    with pytest.raises(TypeError, match="^argument 'as_bytes': "):
        alice(env).get("app/db", as_bytes=flag)  # type: ignore[call-overload]


def test_argument_matching_of_the_methods(env: Workspace) -> None:
    v = alice(env)
    with pytest.raises(TypeError, match=r"^Vault.get\(\) takes 1 positional argument but 2 were given$"):
        v.get("app/db", True)  # type: ignore[call-overload]
    with pytest.raises(TypeError, match=r"^Vault.get\(\) missing 1 required positional argument: 'selector'$"):
        v.get()  # type: ignore[call-overload]
    with pytest.raises(TypeError, match=r"^Vault.set_field\(\) missing 2 required positional arguments: 'key' and 'value'$"):
        v.set_field("app/db")  # type: ignore[call-arg]
    with pytest.raises(TypeError, match="^argument 'key': "):
        v.get_field("app/db", 5)  # type: ignore[call-overload]
    # The key is converted before the selector: the TypeError wins over a bad selector.
    with pytest.raises(TypeError, match="^argument 'key': "):
        v.get_field(42, 5)  # type: ignore[call-overload]


def test_selector_texts_and_objects(env: Workspace) -> None:
    v = alice(env)
    with pytest.raises(OstrelError, match="^expected a selector string or Selector$"):
        v.get(42)  # type: ignore[call-overload]
    with pytest.raises(OstrelError) as caught:
        v.get("")
    assert str(caught.value) == 'invalid selector "": selector must not be empty'
    # Messages show the canonical text, not the text given.
    with pytest.raises(NotFound, match="^secret b@x=2&y=1 not found$"):
        v.get("b@y=1&x=2")
    with pytest.raises(NotFound, match="^secret app/db@none=x not found$"):
        v.get(Selector(["app", "db"], {"none": "x"}))


def test_a_selector_in_another_normal_form_is_taken_as_its_text_would_be(scratch: pathlib.Path) -> None:
    """A Selector's texts are brought to NFC like a selector text's: the same secret, the same
    canonical text in messages (labels in the order of their normalised names), and the same
    refusal of two label names that become one, which names the Selector as it was given."""
    w = Workspace(scratch, members())
    with w.environment():
        v = Vault(str(w.vault_dir), auth=Auth.from_invite(w.invite_bytes("alice").read_bytes()))
    decomposed = Selector(["app", "Cafe\u0301"], {"e\u0301x": "1", "\u00e9": "v\u0301"})
    canonical = "app/Caf\u00e9@\u00e9=v\u0301&\u00e9x=1"
    v.set(decomposed, "x")
    assert v.get(canonical) == "x"
    assert [str(s) for s in v.list(Selector(["app", "Cafe\u0301"]))] == [canonical]
    with pytest.raises(NotFound) as caught:
        v.delete_field(decomposed, "k")
    assert str(caught.value) == f'secret {canonical} has no field "k"'

    cases = [
        (["nope", "Cafe\u0301"], {"e\u0301x": "1", "\u00e9": "2"}, "nope/Cafe\u0301@e\u0301x=1&\u00e9=2",
         NotFound, "secret nope/Caf\u00e9@\u00e9=2&\u00e9x=1 not found"),
        (["app"], {"e\u0301": "1", "\u00e9": "2"}, "app@e\u0301=1&\u00e9=2",
         OstrelError, 'invalid selector "app@e\\u{301}=1&\u00e9=2": a label key may appear only once'),
    ]
    for path, labels, text, cls, message in cases:
        for given in (Selector(path, labels), text):
            with pytest.raises(cls) as caught:
                v.get(given)
            assert (type(caught.value), str(caught.value)) == (cls, message)


def test_missing_denied_and_undecryptable(env: Workspace) -> None:
    v = bob(env)
    assert v.get("app/db") == "hunter2"
    with pytest.raises(NotFound, match="^secret nothing/here not found$"):
        v.get("nothing/here")
    with pytest.raises(PermissionDenied, match="^not authorized for secret ops/key$"):
        v.get("ops/key")
    with pytest.raises(PermissionDenied, match="^not authorized for secret ops/new$"):
        v.set("ops/new", "x")
    # The listing does not depend on read permission.
    assert "ops/key" in [str(s) for s in v.list()]


def test_fields(env: Workspace) -> None:
    v = alice(env)
    with pytest.raises(OstrelError, match="^field value is not valid UTF-8$"):
        v.fields("app/db")
    got = v.fields("app/db", as_bytes=True)
    assert list(got) == ["blob", "host", "user"]
    assert got == {"blob": b"\xff", "host": b"db.local", "user": b"admin"}
    assert v.get_field("app/db", "user") == "admin"
    assert v.get_field("app/db", "blob", as_bytes=True) == b"\xff"
    with pytest.raises(NotFound, match='^secret app/db has no field "nope"$'):
        v.get_field("app/db", "nope")
    assert v.fields("app/db@env=prod") == {}


# --- listing -----------------------------------------------------------------------------------


def test_list_order_and_filter(env: Workspace) -> None:
    v = alice(env)
    listed = v.list()
    assert all(type(s) is Selector for s in listed)
    assert [str(s) for s in listed] == ["ab", "app/api", "app/db", "app/db@env=prod", "ops/key"]
    assert [str(s) for s in v.list(None)] == [str(s) for s in listed]
    assert [str(s) for s in v.list("app")] == ["app/api", "app/db", "app/db@env=prod"]
    assert [str(s) for s in v.list(Selector(["app", "db"]))] == ["app/db", "app/db@env=prod"]
    assert [str(s) for s in v.list("app@env=prod")] == ["app/db@env=prod"]
    assert [str(s) for s in v.list("app@env=dev")] == []
    labelled = [s for s in listed if s.labels][0]
    assert labelled.path == ("app", "db") and labelled.labels == {"env": "prod"}
    with pytest.raises(OstrelError, match="^expected a selector string or Selector$"):
        v.list(3)  # type: ignore[arg-type]


# --- writing -----------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "value, stored",
    [
        ("\u00e9", b"\xc3\xa9"),
        (b"\x00\xff", b"\x00\xff"),
        (bytearray(b"ba"), b"ba"),
        ([104, 105], b"hi"),
        ((1, True), b"\x01\x01"),
        (memoryview(b"mv"), b"mv"),
    ],
)
def test_values_as_str_bytes_bytearray_and_int_sequences(env: Workspace, value: object, stored: bytes) -> None:
    v = alice(env)
    v.set("tmp/value", value)  # type: ignore[arg-type]
    assert v.get("tmp/value", as_bytes=True) == stored


@pytest.mark.parametrize("value", [[256], [-1], 3.5, None, {1: 2}, ["a"], "\ud800", {104}])
def test_other_values_are_refused(env: Workspace, value: object) -> None:
    with pytest.raises(OstrelError, match="^secret value must be str or bytes$"):
        alice(env).set("tmp/value", value)  # type: ignore[arg-type]


def test_writes_are_seen_by_the_same_object_and_by_a_new_one(env: Workspace) -> None:
    v = alice(env)
    assert v.set("tmp/w", "one") is None
    assert v.get("tmp/w") == "one"
    assert v.set_field("tmp/w", "k", "v1") is None
    assert v.set_field("tmp/w", "a", b"\x01") is None
    assert v.set_field("tmp/w", "k", "v2") is None
    assert v.get("tmp/w") == "one"
    assert v.fields("tmp/w", as_bytes=True) == {"a": b"\x01", "k": b"v2"}
    assert v.delete_field("tmp/w", "a") is None
    with pytest.raises(NotFound, match='^secret tmp/w has no field "a"$'):
        v.delete_field("tmp/w", "a")
    assert alice(env).fields("tmp/w") == {"k": "v2"}
    v.set("tmp/w", "two")  # set drops the fields
    assert v.fields("tmp/w") == {}
    assert v.delete("tmp/w") is None
    with pytest.raises(NotFound, match="^secret tmp/w not found$"):
        v.get("tmp/w")
    assert "tmp/w" not in [str(s) for s in alice(env).list()]
    with pytest.raises(NotFound, match="^secret tmp/never not found$"):
        v.set_field("tmp/never", "k", "v")


def test_field_edits_see_what_another_object_wrote_after_opening(env: Workspace) -> None:
    early = alice(env)  # opened before the secret exists
    other = alice(env)
    other.set("tmp/late", "v")
    assert early.set_field("tmp/late", "k", "x") is None
    assert other.fields("tmp/late") == {}  # other's own state is older
    assert alice(env).fields("tmp/late") == {"k": "x"}
    vault_before = (env.vault_dir / "vault.cord").read_bytes()
    with pytest.raises(NotFound, match='^secret tmp/late has no field "zz"$'):
        other.delete_field("tmp/late", "zz")
    assert (env.vault_dir / "vault.cord").read_bytes() == vault_before
    assert other.delete_field("tmp/late", "k") is None
    assert alice(env).fields("tmp/late") == {}
    early.delete("tmp/late")


# --- the roads ---------------------------------------------------------------------------------


def test_invitation_in_every_form(env: Workspace) -> None:
    path = env.invite_bytes("bob")
    text = env.invite_text("bob")
    for auth in (
        Auth.from_invite(path.read_bytes()),
        Auth.from_invite(bytearray(path.read_bytes())),
        Auth.from_invite(open(path, "rb")),
        Auth.from_invite(text),
    ):
        assert Vault(str(env.vault_dir), auth=auth).get("app/db") == "hunter2"


def test_invitation_failures(env: Workspace) -> None:
    with pytest.raises(OstrelError) as caught:
        Vault(str(env.vault_dir), auth=Auth.from_invite("not an invitation"))
    assert type(caught.value) is OstrelError
    other = env.invite_bytes("bob", "--root-key-id", "77" * 32)
    with pytest.raises(OstrelError, match="^the invitation is for a different vault root$"):
        Vault(str(env.vault_dir), auth=Auth.from_invite(other.read_bytes()))
    stranger = env.base / "stranger.invite"
    from workspace import run_tool
    run_tool("invite", env.scenario_file, "--seed", "dd" * 32, "--bytes", stranger)
    # With the root's ratchet remembered, the session refuses the stranger...
    with pytest.raises(IdentityError, match=r"^identity UserId\(.*\) is not an effective member of this vault$"):
        Vault(str(env.vault_dir), auth=Auth.from_invite(stranger.read_bytes()))
    # ...and the first trust from an invitation does before it remembers anything.
    with env.environment(OSTREL_STATE_DIR=str(env.base / "fresh-state")):
        with pytest.raises(IdentityError, match=r"^claimed identity .* is not a current member of this vault$"):
            Vault(str(env.vault_dir), auth=Auth.from_invite(stranger.read_bytes()))
        assert Vault(str(env.vault_dir), auth=Auth.from_invite(env.invite_bytes("bob").read_bytes())).get("app/db")


def test_environment_road(ws: Workspace) -> None:
    text = ws.invite_text("bob")
    path = ws.invite_bytes("bob")
    cases = [
        ({}, Auth.from_env(), IdentityError, "neither OSTREL_UNSAFE_INVITE nor OSTREL_UNSAFE_INVITE_FILE is set"),
        ({"OSTREL_UNSAFE_INVITE": text, "OSTREL_UNSAFE_INVITE_FILE": str(path)}, Auth.from_env(), IdentityError,
         "set only one of OSTREL_UNSAFE_INVITE or OSTREL_UNSAFE_INVITE_FILE"),
        ({}, Auth.from_env(invite="MY_TEXT", invite_file="MY_FILE"), IdentityError, "neither MY_TEXT nor MY_FILE is set"),
        ({"OSTREL_UNSAFE_INVITE_FILE": str(ws.base)}, Auth.from_env(), IdentityError,
         f"failed to read {ws.base}: not a regular file"),
        ({"NUL_NAME": text}, Auth.from_env(invite="NUL_NAME\0X", invite_file="UNSET_FILE"), IdentityError,
         "neither NUL_NAME\0X nor UNSET_FILE is set"),
        # A text variable that is not valid Unicode counts as unset.
        ({"OSTREL_UNSAFE_INVITE": "ostr1\udcff"}, Auth.from_env(), IdentityError,
         "neither OSTREL_UNSAFE_INVITE nor OSTREL_UNSAFE_INVITE_FILE is set"),
    ]
    for variables, auth, cls, message in cases:
        with ws.environment(**variables):
            with pytest.raises(cls) as caught:
                Vault(str(ws.vault_dir), auth=auth)
            assert type(caught.value) is cls
            assert str(caught.value) == message
    with ws.environment(OSTREL_UNSAFE_INVITE=""):
        with pytest.raises(OstrelError) as caught:
            Vault(str(ws.vault_dir), auth=Auth.from_env())
        assert type(caught.value) is OstrelError
    for variables in ({"OSTREL_UNSAFE_INVITE": text}, {"OSTREL_UNSAFE_INVITE_FILE": str(path)},
                      {"X_TEXT": text}):
        auth = Auth.from_env(invite="X_TEXT") if "X_TEXT" in variables else Auth.from_env()
        with ws.environment(**variables):
            v = Vault(str(ws.vault_dir), auth=auth)
        # Read at construction only: the variables are gone now.
        assert v.get("app/db") == "hunter2"


def test_keychain_road_failures(env: Workspace) -> None:
    with pytest.raises(IdentityError):
        Vault(str(env.vault_dir), auth=Auth.from_keychain("alice", passphrase="wrong"))
    with pytest.raises(OstrelError) as caught:
        Vault(str(env.base / "nowhere"), auth=Auth.from_keychain("alice", passphrase=PASSPHRASE))
    assert type(caught.value) is OstrelError
    with pytest.raises(OstrelError):
        Vault(str(env.vault_dir), auth=Auth.from_keychain("@nobody", passphrase=PASSPHRASE))


def test_no_default_identity(ws: Workspace, scratch: pathlib.Path) -> None:
    empty_keys = scratch / "nokeys"
    empty_keys.mkdir()
    with ws.environment(OSTREL_KEYCHAIN_DIR=str(empty_keys)):
        with pytest.raises(IdentityError, match="^no default Ostrel identity is configured; pass --user once$"):
            Vault(str(ws.vault_dir), auth=Auth.from_keychain(passphrase=PASSPHRASE))


def test_missing_ratchet_state_is_an_identity_error(ws: Workspace, scratch: pathlib.Path) -> None:
    fresh_state = scratch / "fresh-state"
    with ws.environment(OSTREL_STATE_DIR=str(fresh_state)):
        with pytest.raises(IdentityError, match="^workspace is missing ratchet state at .*ratchet.cord$") as caught:
            Vault(str(ws.vault_dir), auth=Auth.from_keychain("alice", passphrase=PASSPHRASE))
    # Only the words "ratchet state" make it an IdentityError: the path holds no other such word.
    assert "keychain" not in str(caught.value) and "identity" not in str(caught.value)


@pytest.mark.parametrize("count, phrase", [(1, "1 unresolved conflict"), (3, "3 unresolved conflicts")])
def test_a_vault_with_conflicts_is_refused(scratch: pathlib.Path, count: int, phrase: str) -> None:
    records = []
    for i in range(count):
        records.append(secret(f"c/{i}", "one", counter=7))
        records.append(secret(f"c/{i}", "two", counter=7))
    w = Workspace(scratch, members(*records))
    with w.environment():
        with pytest.raises(ConflictError) as caught:
            Vault(str(w.vault_dir), auth=Auth.from_invite(w.invite_bytes("alice").read_bytes()))
    assert str(caught.value) == f"vault has {phrase}; resolve them before using the Ostrel Python SDK"


def test_validation_issues_are_validation_errors(scratch: pathlib.Path) -> None:
    scenario = members()
    # A record signed by a key the vault does not know.
    scenario["records"].append({"kind": "UserHandle", "handle": "eve", "user": "bob", "signer": "mallory", "counter": 9})
    w = Workspace(scratch, scenario)
    with w.environment():
        with pytest.raises(ValidationError, match="^validation failed"):
            Vault(str(w.vault_dir), auth=Auth.from_invite(w.invite_bytes("alice").read_bytes()))


# --- with --------------------------------------------------------------------------------------


def test_with_returns_the_object_and_exit_returns_false(env: Workspace) -> None:
    v = alice(env)
    with v as entered:
        assert entered is v
    assert v.__exit__(None, None, None) is False
    assert v.get("app/db") == "hunter2"
    with pytest.raises(KeyError):
        with v:
            raise KeyError("propagates")
    assert isinstance(v, ostrel.Vault)


def test_words_in_an_embedded_path_pick_the_class(env: Workspace) -> None:
    auth = Auth.from_keychain("alice", passphrase=PASSPHRASE)
    for folder, cls in (("plain", OstrelError), ("keychain", IdentityError), ("my-identity", IdentityError)):
        with pytest.raises(OstrelError) as caught:
            Vault(str(env.base / folder / ".ostrel"), auth=auth)
        assert type(caught.value) is cls, folder
        assert str(env.base / folder) in str(caught.value)
