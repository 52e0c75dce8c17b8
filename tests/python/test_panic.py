"""Internal failures: every entry point turns one into a PanicException (a BaseException, not an
Exception) carrying the failure's message. The failures are triggered in the module's test
variant (built with the unit tests, never installed), loaded in a child interpreter."""

import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

TEST_MODULE_DIR = os.environ.get("OSTREL_TEST_MODULE_DIR")


def run_with_test_module(code: str) -> str:
    assert TEST_MODULE_DIR, "OSTREL_TEST_MODULE_DIR names the test variant's folder (set by ./dev test)"
    assert (pathlib.Path(TEST_MODULE_DIR) / "ostrel" / "__init__.abi3.so").is_file()
    env = dict(os.environ, PYTHONPATH=TEST_MODULE_DIR)
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_the_installed_module_has_no_trigger() -> None:
    from ostrel import Selector

    assert str(Selector(["ostrel-test-panic"])) == "ostrel-test-panic"


def test_a_failure_in_an_entry_point_is_a_panic_exception() -> None:
    out = run_with_test_module(
        """
        import ostrel
        assert ostrel.__file__.startswith(%r)
        try:
            ostrel.Selector(["ostrel-test-panic"])
        except Exception:
            print("caught as Exception")
        except BaseException as e:
            print(type(e).__module__, type(e).__name__, e.args)
            assert not isinstance(e, Exception)
        # The module keeps working afterwards.
        print(str(ostrel.Selector(["a"])))
        """
        % TEST_MODULE_DIR
    )
    assert out.splitlines() == [
        "ostrel PanicException ('test-triggered internal failure',)",
        "a",
    ]


def test_a_failure_inside_an_operation_poisons_that_vaults_session(scratch: pathlib.Path) -> None:
    from workspace import Workspace, members, secret

    ws = Workspace(scratch, members(secret("app/db", "hunter2")))
    invite = ws.invite_bytes("alice")
    out = run_with_test_module(
        f"""
        import os
        os.environ["OSTREL_STATE_DIR"] = {str(ws.state_dir)!r}
        os.environ["OSTREL_KEYCHAIN_DIR"] = {str(ws.keys_dir)!r}
        import ostrel
        auth = ostrel.Auth.from_invite(open({str(invite)!r}, "rb").read())
        v = ostrel.Vault({str(ws.vault_dir)!r}, auth=auth)
        try:
            v.get("ostrel-test-panic/x")
        except BaseException as e:
            print(type(e).__name__, e)
        for call in (lambda: v.get("app/db"), lambda: v.list(), lambda: v.set("app/db", "x")):
            try:
                call()
            except ostrel.OstrelError as e:
                print(type(e).__name__, e)
        with v:  # the object itself stays usable as a value
            pass
        print(ostrel.Vault({str(ws.vault_dir)!r}, auth=auth).get("app/db"))
        """
    )
    assert out.splitlines() == [
        "PanicException test-triggered internal failure",
        "OstrelError Ostrel vault session lock is poisoned",
        "OstrelError Ostrel vault session lock is poisoned",
        "OstrelError Ostrel vault session lock is poisoned",
        "hunter2",
    ]
