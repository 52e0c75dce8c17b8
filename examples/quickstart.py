"""Quick start: open a vault by the keychain and by an invitation, then read, write, list and
edit the fields of secrets.

    python examples/quickstart.py WORKSPACE INVITATION_FILE

WORKSPACE holds the vault (WORKSPACE/.ostrel/vault.cord). The keychain of the first user is found
through OSTREL_KEYCHAIN_DIR and unlocked with the passphrase in OSTREL_DEMO_PASSPHRASE (without
it, the keychain asks on the console); INVITATION_FILE invites the second user. `./dev demo`
makes all of this in a temporary folder and runs this program.
"""

from __future__ import annotations

import os
import sys

import ostrel
from ostrel import Auth, Selector, Vault


def main(workspace: str, invitation_file: str) -> None:
    vault_dir = os.path.join(workspace, ".ostrel")

    # 1. The keychain road: the keychain's current user, unlocked with a passphrase.
    alice = Vault(vault_dir, auth=Auth.from_keychain(passphrase=os.environ.get("OSTREL_DEMO_PASSPHRASE")))
    print("opened the vault with the keychain")

    alice.set("app/db@env=prod", "hunter2")
    print("set app/db@env=prod")
    alice.set_field("app/db@env=prod", "user", "admin")
    alice.set_field("app/db@env=prod", "host", "db.internal")
    print("fields of app/db@env=prod:", alice.fields("app/db@env=prod"))
    alice.set(Selector(["app", "api-key"]), b"\x00\x01binary")
    alice.set("ops/root-token", "for alice only")

    # 2. The invitation road: a second user, from an invitation file.
    with open(invitation_file, "rb") as f:
        bob = Vault(vault_dir, auth=Auth.from_invite(f))
    print("opened the vault by invitation")

    with bob:
        print("bob reads app/db@env=prod:", bob.get("app/db@env=prod"))
        print("bob reads the user field:", bob.get_field("app/db@env=prod", "user"))
        print("bob reads app/api-key as bytes:", bob.get("app/api-key", as_bytes=True))
        print("every secret:", [str(s) for s in bob.list()])
        print("secrets under app:", [str(s) for s in bob.list("app")])
        try:
            bob.get("ops/root-token")
        except ostrel.PermissionDenied as e:
            print("bob may not read ops/root-token:", e)
        try:
            bob.get("app/nothing")
        except ostrel.NotFound as e:
            print("missing:", e)

    alice.delete_field("app/db@env=prod", "host")
    print("after deleting host:", alice.fields("app/db@env=prod"))
    alice.delete("ops/root-token")
    print("after deleting ops/root-token:", [str(s) for s in alice.list()])


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
