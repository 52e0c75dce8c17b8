"""The module's surface: names, documentation, final classes, text signatures, the exception
hierarchy, and argument matching with the interpreter's usual TypeError wording."""

import importlib
import sys
import weakref

import pytest

import ostrel

CLASSES = ["Auth", "Selector", "Vault"]
EXCEPTIONS = ["OstrelError", "NotFound", "PermissionDenied", "ConflictError", "ValidationError", "IdentityError"]


def test_all_lists_the_public_names_in_order_and_doc_is_empty() -> None:
    assert ostrel.__all__ == CLASSES + EXCEPTIONS
    assert ostrel.__doc__ == ""
    for name in ostrel.__all__:
        assert getattr(ostrel, name).__module__ == "ostrel"
    assert not hasattr(ostrel, "PanicException")


def test_the_module_is_the_limited_api_extension_itself() -> None:
    assert ostrel.__file__ is not None
    assert ostrel.__file__.endswith("ostrel/__init__.abi3.so")


@pytest.mark.parametrize("name", CLASSES)
def test_classes_are_final_without_dict_or_weak_references(name: str) -> None:
    cls = getattr(ostrel, name)
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    assert "__dict__" not in dir(cls)
    assert "__weakref__" not in dir(cls)


def test_instances_take_no_new_attributes_nor_weak_references() -> None:
    for obj in (ostrel.Selector(["a"]), ostrel.Auth.from_keychain()):
        with pytest.raises(AttributeError):
            obj.extra = 1  # type: ignore[attr-defined]
        with pytest.raises(TypeError):
            weakref.ref(obj)


def test_exception_hierarchy() -> None:
    assert issubclass(ostrel.OstrelError, Exception)
    for name in EXCEPTIONS[1:]:
        cls = getattr(ostrel, name)
        assert cls.__bases__ == (ostrel.OstrelError,)
        assert cls.__module__ == "ostrel"
        assert cls.__doc__ is None
        assert cls("text").args == ("text",)


def test_text_signatures() -> None:
    cases = {
        ostrel.Selector: "(path, labels=None)",
        ostrel.Auth.from_keychain: "($cls, user=None, *, passphrase=None)",
        ostrel.Auth.from_invite: "($cls, invite)",
        ostrel.Auth.from_env: "($cls, *, invite=..., invite_file=...)",
    }
    for obj, signature in cases.items():
        assert obj.__text_signature__ == signature, obj


def test_auth_cannot_be_instantiated() -> None:
    with pytest.raises(TypeError, match=r"^cannot create 'ostrel.Auth' instances$"):
        ostrel.Auth()


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: ostrel.Selector(), r"^Selector.__new__\(\) missing 1 required positional argument: 'path'$"),
        (lambda: ostrel.Selector(["a"], None, 3), r"^Selector.__new__\(\) takes from 1 to 2 positional arguments but 3 were given$"),
        (lambda: ostrel.Selector(["a"], path=["b"]), r"^Selector.__new__\(\) got multiple values for argument 'path'$"),
        (lambda: ostrel.Selector(["a"], colour=1), r"^Selector.__new__\(\) got an unexpected keyword argument 'colour'$"),
        (lambda: ostrel.Auth.from_keychain("u", "p"), r"^Auth.from_keychain\(\) takes from 0 to 1 positional arguments but 2 were given$"),
        (lambda: ostrel.Auth.from_invite(), r"^Auth.from_invite\(\) missing 1 required positional argument: 'invite'$"),
        (lambda: ostrel.Auth.from_env("X"), r"^Auth.from_env\(\) takes 0 positional arguments but 1 was given$"),
        (lambda: ostrel.Auth.from_keychain(**{"user": None, "x": 1}), r"unexpected keyword argument 'x'"),
    ],
)
def test_argument_matching_type_errors(call, message) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(TypeError, match=message):
        call()


def test_a_second_import_gets_the_same_classes() -> None:
    before = {name: getattr(ostrel, name) for name in ostrel.__all__}
    del sys.modules["ostrel"]
    try:
        again = importlib.import_module("ostrel")
        assert again is not ostrel
        for name, obj in before.items():
            assert getattr(again, name) is obj
    finally:
        sys.modules["ostrel"] = ostrel
