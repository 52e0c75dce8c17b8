"""Selector: construction checks, text and repr forms, attribute copies."""

import pytest

import ostrel
from ostrel import OstrelError, Selector

PATH_MESSAGE = "selector path must contain at least one non-empty segment"
LABEL_MESSAGE = "selector label names and values must be non-empty"


def test_path_and_labels_are_fresh_copies_in_name_order() -> None:
    s = Selector(["app", "db"])
    assert s.path == ("app", "db")
    assert s.labels == {}
    labelled = Selector(("app",), {"b": "2", "a": "1"})
    assert list(labelled.labels) == ["a", "b"]
    labelled.labels["c"] = "3"
    assert labelled.labels == {"a": "1", "b": "2"}
    assert s.path is not s.path


@pytest.mark.parametrize(
    "path, labels, text, shown",
    [
        (["app", "db"], None, "app/db", 'Selector(["app", "db"])'),
        (["app"], {"b": "2", "a": "1"}, "app@a=1&b=2", 'Selector(["app"], labels={"a": "1", "b": "2"})'),
        (["app"], {}, "app", 'Selector(["app"])'),
        (["a/b"], None, '"a/b"', 'Selector(["a/b"])'),
        (["x y"], None, "x y", 'Selector(["x y"])'),
        (['q"t', "b\\s"], None, '"q\\"t"/"b\\\\s"', 'Selector(["q\\"t", "b\\\\s"])'),
        (["k"], {"n@": "v&"}, 'k@"n@"="v&"', 'Selector(["k"], labels={"n@": "v&"})'),
    ],
)
def test_str_is_the_canonical_text_and_repr_uses_double_quotes(path, labels, text, shown) -> None:  # type: ignore[no-untyped-def]
    s = Selector(path, labels)
    assert str(s) == text
    assert repr(s) == shown


@pytest.mark.parametrize(
    "path, labels, message",
    [
        ([], None, PATH_MESSAGE),
        (["a", ""], None, PATH_MESSAGE),
        ([""], {"": ""}, PATH_MESSAGE),  # the path is examined first
        (["a"], {"": "x"}, LABEL_MESSAGE),
        (["a"], {"k": ""}, LABEL_MESSAGE),
    ],
)
def test_empty_parts_are_refused(path, labels, message) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(OstrelError) as caught:
        Selector(path, labels)
    assert type(caught.value) is OstrelError
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "path, labels, name",
    [
        ("app", None, "path"),
        (5, None, "path"),
        (["a", 1], None, "path"),
        ([""], {"k": 1}, "labels"),  # conversions come before the emptiness checks
        (["a"], [("k", "v")], "labels"),
        (["a"], {1: "v"}, "labels"),
    ],
)
def test_wrong_types_are_type_errors_naming_the_argument(path, labels, name) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(TypeError, match=f"^argument '{name}': "):
        Selector(path, labels)


def test_selectors_compare_by_identity() -> None:
    a = Selector(["a"])
    assert a != Selector(["a"])
    assert a == a
    assert hash(a) == hash(a)


def test_keyword_arguments() -> None:
    s = Selector(path=["a"], labels={"k": "v"})
    assert str(s) == "a@k=v"
    assert isinstance(s, ostrel.Selector)
