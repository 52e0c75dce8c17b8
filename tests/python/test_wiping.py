"""Secrets handed to the module (passphrases, invitations, values) live in the module's wiping
memory: once the module no longer needs its copy, no copy of their bytes is left in the process.

The search looks through the process's writable memory for the UTF-8 bytes of a text whose str
object stores it differently (a character above U+00FF makes the interpreter keep it in UCS-2),
so only UTF-8 copies made from it can be found. The search itself makes no copy: the bytes
searched for are assembled once, character by character, and memory is read into one buffer
that is skipped and wiped."""

from __future__ import annotations

import ctypes
import gc
import secrets
import pathlib
from collections.abc import Iterator

import pytest

from ostrel import Auth

BUFFER = 16 << 20


def distinctive_text() -> str:
    return "pass\u20ac" + secrets.token_hex(12)


def utf8_needle(text: str) -> bytearray:
    needle = bytearray()
    for ch in text:
        needle += ch.encode()
    return needle


def copies_in_memory(needle: bytearray) -> int:
    buffer = bytearray(BUFFER)
    own = ctypes.addressof(ctypes.c_char.from_buffer(buffer))
    found = 0
    try:
        with open("/proc/self/maps") as maps, open("/proc/self/mem", "rb", 0) as mem:
            for line in maps.read().splitlines():
                fields = line.split()
                if not fields[1].startswith("rw") or (len(fields) > 5 and fields[5] in ("[vvar]", "[vsyscall]")):
                    continue
                start, end = (int(x, 16) for x in fields[0].split("-"))
                at = start
                while at < end:
                    if own <= at < own + BUFFER:  # the buffer itself (its mapping may be merged with others)
                        at = own + BUFFER
                        continue
                    n = min(BUFFER, end - at, own - at if at < own else end - at)
                    try:
                        mem.seek(at)
                        got = mem.readinto(memoryview(buffer)[:n])
                    except (OSError, ValueError, OverflowError):
                        break
                    # Matches across the chunk boundary are not missed: the next chunk starts
                    # len(needle) - 1 bytes earlier.
                    pos = buffer.find(needle, 0, got)
                    while pos != -1:
                        found += 1
                        pos = buffer.find(needle, pos + 1, got)
                    if got < n:
                        break
                    overlap = len(needle) - 1
                    at += n - overlap if at + n < end and n > overlap else n
    finally:
        buffer[:] = bytes(BUFFER)
    return found


@pytest.fixture
def text() -> Iterator[str]:
    yield distinctive_text()


def test_the_search_finds_each_live_copy(text: str) -> None:
    needle = utf8_needle(text)
    assert copies_in_memory(needle) == 1
    second = bytearray(needle)
    assert copies_in_memory(needle) == 2
    second[:] = bytes(len(second))
    assert copies_in_memory(needle) == 1


def test_a_passphrase_is_wiped_when_the_auth_is_freed(text: str) -> None:
    needle = utf8_needle(text)
    auth = Auth.from_keychain("alice", passphrase=text)
    # The search's needle and the Auth's own copy: no UTF-8 copy was cached in the str.
    assert copies_in_memory(needle) == 2
    del auth
    gc.collect()
    assert copies_in_memory(needle) == 1


@pytest.mark.parametrize("form", ["str", "bytearray", "ints"])
def test_an_invitation_is_wiped_when_the_auth_is_freed(text: str, form: str) -> None:
    needle = utf8_needle(text)
    given: object = {"str": lambda: text, "bytearray": lambda: bytearray(needle), "ints": lambda: list(needle)}[form]()
    auth = Auth.from_invite(given)  # type: ignore[arg-type]
    if isinstance(given, bytearray):
        given[:] = bytes(len(given))  # the caller's own copy is the caller's to wipe
    assert copies_in_memory(needle) == 2
    del auth
    gc.collect()
    assert copies_in_memory(needle) == 1


def test_values_handed_to_a_vault_are_wiped_once_written(text: str, scratch: pathlib.Path) -> None:
    from workspace import Workspace, members

    from ostrel import Vault

    ws = Workspace(scratch, members())
    with ws.environment():
        v = Vault(str(ws.vault_dir), auth=Auth.from_invite(ws.invite_bytes("alice").read_bytes()))
        needle = utf8_needle(text)
        v.set("wiped/value", text)
        v.set_field("wiped/value", "k", text)
        v.set("wiped/ints", list(needle))
        gc.collect()
        assert copies_in_memory(needle) == 1
