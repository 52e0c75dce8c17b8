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


def test_every_entry_point_fails_the_same_way_in_its_frame(scratch: pathlib.Path) -> None:
    """The test variant's frames fail before their bodies while OSTREL_TEST_PANIC_ENTRY names
    their entry: every entry point raises PanicException (a deallocation reports it to the
    unraisable hook) and works again once the variable names something else."""
    from workspace import Workspace, members, secret

    ws = Workspace(scratch, members(secret("app/db", "hunter2")))
    invite = ws.invite_bytes("alice")
    out = run_with_test_module(
        f"""
        import os
        import sys
        os.environ["OSTREL_STATE_DIR"] = {str(ws.state_dir)!r}
        os.environ["OSTREL_KEYCHAIN_DIR"] = {str(ws.keys_dir)!r}
        VAULT, TRIGGER = {str(ws.vault_dir)!r}, "OSTREL_TEST_PANIC_ENTRY"

        def outcome(call):
            try:
                call()
            except BaseException as e:
                return f"{{type(e).__name__}}: {{e}}"
            return "returned"

        def failing(entry, call):
            os.environ[TRIGGER] = entry
            try:
                return outcome(call)
            finally:
                del os.environ[TRIGGER]

        print("Py_mod_exec", failing("Py_mod_exec", lambda: __import__("ostrel")), "|",
              outcome(lambda: __import__("ostrel")))
        import ostrel

        invite = open({str(invite)!r}, "rb").read()
        auth = ostrel.Auth.from_invite(invite)
        vault = ostrel.Vault(VAULT, auth=auth)
        vault.set_field("app/db", "user", "admin")
        sel = ostrel.Selector(["app", "db"])
        calls = {{
            "Auth.from_keychain": lambda: ostrel.Auth.from_keychain("alice", passphrase="x"),
            "Auth.from_invite": lambda: ostrel.Auth.from_invite(invite),
            "Auth.from_env": lambda: ostrel.Auth.from_env(),
            "Auth.__repr__": lambda: repr(auth),
            "refuse_new": lambda: ostrel.Auth(),
            "Selector.__new__": lambda: ostrel.Selector(["a"], {{"k": "v"}}),
            "Selector.__str__": lambda: str(sel),
            "Selector.__repr__": lambda: repr(sel),
            "Selector.path": lambda: sel.path,
            "Selector.labels": lambda: sel.labels,
            "Vault.__new__": lambda: ostrel.Vault(VAULT, auth=auth),
            "Vault.get": lambda: vault.get("app/db"),
            "Vault.fields": lambda: vault.fields(sel),
            "Vault.get_field": lambda: vault.get_field("app/db", "user"),
            "Vault.set": lambda: vault.set("app/other", "x"),
            "Vault.set_field": lambda: vault.set_field("app/other", "k", "v"),
            "Vault.delete_field": lambda: vault.delete_field("app/other", "k"),
            "Vault.delete": lambda: vault.delete("app/other"),
            "Vault.list": lambda: vault.list("app"),
            "Vault.__enter__": lambda: vault.__enter__(),
            "Vault.__exit__": lambda: vault.__exit__(None, None, None),
        }}
        for entry, call in calls.items():
            print(entry, failing(entry, call), "|", outcome(call))

        reports = []
        sys.unraisablehook = lambda u: reports.append(f"{{type(u.exc_value).__name__}}: {{u.exc_value}}")
        made = {{
            "Auth.tp_dealloc": lambda: ostrel.Auth.from_env(),
            "Selector.tp_dealloc": lambda: ostrel.Selector(["a"]),
            "Vault.tp_dealloc": lambda: ostrel.Vault(VAULT, auth=auth),
        }}
        for entry, make in made.items():
            doomed = [make()]
            failing(entry, doomed.clear)  # its last reference goes while the trigger names it
            make()  # made and freed again: no report
            print(entry, reports)
            reports.clear()
        print(vault.get("app/db"), vault.fields("app/db"))
        """
    )
    panic = "PanicException: test-triggered internal failure"
    expected = [f"Py_mod_exec {panic} | returned"]
    for entry in ["Auth.from_keychain", "Auth.from_invite", "Auth.from_env", "Auth.__repr__"]:
        expected.append(f"{entry} {panic} | returned")
    expected.append(f"refuse_new {panic} | TypeError: cannot create 'ostrel.Auth' instances")
    for entry in ["Selector.__new__", "Selector.__str__", "Selector.__repr__", "Selector.path", "Selector.labels",
                  "Vault.__new__", "Vault.get", "Vault.fields", "Vault.get_field", "Vault.set", "Vault.set_field",
                  "Vault.delete_field", "Vault.delete", "Vault.list", "Vault.__enter__", "Vault.__exit__"]:
        expected.append(f"{entry} {panic} | returned")
    for entry in ["Auth.tp_dealloc", "Selector.tp_dealloc", "Vault.tp_dealloc"]:
        expected.append(f"{entry} ['{panic}']")
    # A failure in a frame comes before the body: no session was poisoned on the way.
    expected.append("hunter2 {'user': 'admin'}")
    assert out.splitlines() == expected
