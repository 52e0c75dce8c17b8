// The converters of the module's own argument kinds: a selector (text or Selector), a secret
// value (str or bytes-like), an invitation (text, bytes or a file-like object). Each returns its
// value or the module's own exception. Secret bytes land in wiping buffers only.
// REQUIRES (every function): the interpreter lock is held.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/access.h"
#include "cord/deserializer.h"
#include "frontend/invite/parse.h"
#include "platform/secret.h"
#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

struct SelectorArg {
  core::SecretSelectorV1 selector;
  std::string text;  // canonical: what messages show
};

// An invitation before decoding: its text form or its byte form, kept in wiping memory.
using frontend::invite::InviteInput;

// How many read() results extract_invite follows before it gives up.
inline constexpr int kMaxInviteReads = 4;

// The most items a conversion takes from an object read item by item (an endless iterator, or a
// length that claims more than memory holds, would otherwise take memory until it runs out): a
// secret value, a Selector's path, the single-length bound of stored files; an invitation, the
// bound of invitation files.
inline constexpr std::uint64_t kMaxValueItems = cord::Deserializer::kMaxLength;
inline constexpr std::uint64_t kMaxPathItems = cord::Deserializer::kMaxLength;
inline constexpr std::uint64_t kMaxInviteItems = frontend::invite::kMaxFileBytes;

// The UTF-8 of a str as a secret, or nothing for a str that cannot be encoded. The interpreter's
// own transient copy is wiped too; unlike PyUnicode_AsUTF8AndSize, no UTF-8 copy stays cached in
// the str object. REQUIRES: `object` is a str.
std::optional<platform::SecretBytes> secret_utf8(PyObject* object);

Result<SelectorArg> extract_selector(PyObject* object);
Result<platform::SecretBytes> extract_secret_value(PyObject* object);
Result<InviteInput> extract_invite(PyObject* object);

}  // namespace ostrel::py
