"""Shared fixtures of the Python suites: the installed module, and workspaces made by the
fixture tool in folders whose names never hold "keychain" or "identity" (those words in a path
would change which exception class a failure maps to)."""

import os
import pathlib
import tempfile

import pytest


def _neutral_tmp(prefix: str) -> pathlib.Path:
    path = pathlib.Path(tempfile.mkdtemp(prefix=prefix))
    for word in ("keychain", "identity"):
        assert word not in str(path), f"temporary folder {path} holds {word!r}"
    return path


@pytest.fixture
def scratch(request: pytest.FixtureRequest) -> pathlib.Path:
    import shutil

    path = _neutral_tmp("ostrel-py-")
    request.addfinalizer(lambda: shutil.rmtree(path, ignore_errors=True))
    return path
