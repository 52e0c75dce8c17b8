// The Python class Vault: one opened vault session, owned by the object from creation to
// deallocation. Any number of threads may call its methods: each releases the interpreter lock
// and runs its operation under the object's session mutex, so operations on one object run one
// at a time while other Python threads go on.
#pragma once

#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

Result<PyObject*> vault_type();

}  // namespace ostrel::py
