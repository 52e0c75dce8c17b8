#include "py/convert.h"

#include <limits>
#include <optional>
#include <utility>

#include "cord/serializer.h"
#include "errors/try.h"
#include "frontend/selector/grammar.h"
#include "platform/secure_memory.h"
#include "py/args.h"
#include "py/exceptions.h"
#include "py/messages.h"
#include "py/selector.h"

namespace ostrel::py {
namespace {

Result<SelectorArg> with_canonical_text(FrontendResult<core::SecretSelectorV1> parsed) {
  if (!parsed) return std::unexpected(classify_text(parsed.error().message()));
  std::string text = frontend::selector::format(*parsed);
  return SelectorArg{std::move(*parsed), std::move(text)};
}

// A Selector's value as a caller's selector: its record made once and its text formatted once.
// That text is the Selector as given, which the refusal of two label names that become one names;
// it is the canonical text too unless bringing the texts to NFC changed one of them.
Result<SelectorArg> selector_arg(const SelectorValue& value) {
  core::SecretSelectorV1 record = value.as_record();
  std::string text = frontend::selector::format(record);
  auto selector = core::SecretSelectorV1::from_input(std::move(record.tuple), std::move(record.labels), text);
  if (!selector) return std::unexpected(classify_text(selector.error().message()));
  if (!value.holds(*selector)) text = frontend::selector::format(*selector);
  return SelectorArg{std::move(*selector), std::move(text)};
}

// Whether `object` is registered as a collections.abc.Sequence. The check may run the object's
// own code (its __class__); what that raises counts as "no" unless it is outside Exception.
Result<bool> is_registered_sequence(PyObject* object) {
  Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
  Ref sequence = abc ? Ref::steal(PyObject_GetAttrString(abc.get(), "Sequence")) : Ref();
  const int is = sequence ? PyObject_IsInstance(object, sequence.get()) : -1;
  if (is < 0 && !clear_ordinary_exception()) return std::unexpected(Error::already_set());
  return is == 1;
}

// The bytes of a bytes-like object: bytes, bytearray, or a sequence of integers 0..255; nothing
// (and no exception left set) for anything else. A sequence with more than `max_items` items is
// the error `too_long()`; an exception outside Exception raised by the object's own methods is
// the error instead (left set).
Result<std::optional<platform::SecretBytes>> bytes_like(PyObject* object, std::uint64_t max_items,
                                                        Error (*too_long)()) {
  using Bytes = std::optional<platform::SecretBytes>;
  if (PyBytes_Check(object)) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(object, &data, &size) != 0) {
      PyErr_Clear();
      return Bytes();
    }
    return platform::SecretBytes::copy_of({reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)});
  }
  if (PyByteArray_Check(object)) {
    const char* data = PyByteArray_AsString(object);
    const Py_ssize_t size = PyByteArray_Size(object);
    return platform::SecretBytes::copy_of({reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)});
  }
  if (PyUnicode_Check(object)) return Bytes();
  if (!PySequence_Check(object)) {
    OSTREL_TRY_ASSIGN(const bool registered, is_registered_sequence(object));
    if (!registered) return Bytes();
  }
  // Every failure below comes from the object's own methods (__iter__, __next__, __getitem__,
  // an item's __index__).
  const auto failed = []() -> Result<Bytes> {
    if (!clear_ordinary_exception()) return std::unexpected(Error::already_set());
    return Bytes();
  };
  Ref iterator = Ref::steal(PyObject_GetIter(object));
  if (!iterator) return failed();
  // Grows in wiping memory: no copy of the value is left behind by a reallocation.
  cord::Buffer bytes;
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    if (bytes.size() == max_items) return std::unexpected(too_long());
    const long byte = PyLong_AsLong(item.get());
    if (byte < 0 || byte > 255) return failed();
    bytes.push_back(static_cast<std::uint8_t>(byte));
  }
  if (PyErr_Occurred() != nullptr) return failed();
  return platform::SecretBytes::copy_of(bytes);
}

}  // namespace

std::optional<platform::SecretBytes> secret_utf8(PyObject* object) {
  Ref utf8 = Ref::steal(PyUnicode_AsUTF8String(object));
  if (!utf8) {
    PyErr_Clear();
    return std::nullopt;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(utf8.get(), &data, &size) != 0) {
    PyErr_Clear();
    return std::nullopt;
  }
  auto secret = platform::SecretBytes::copy_of({reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)});
  // A fresh bytes object of ours, unless the interpreter handed out one of its shared objects
  // (the empty and the one-byte ones), which must stay as they are.
  if (size > 1 && Py_REFCNT(utf8.get()) == 1) platform::secure_wipe(data, static_cast<std::size_t>(size));
  return secret;
}

Result<SelectorArg> extract_selector(PyObject* object) {
  if (PyUnicode_Check(object)) {
    auto text = utf8_of(object);
    // A str that cannot be UTF-8 is no selector text.
    if (!text) return std::unexpected(Error::ostrel(std::string(messages::kExpectedSelector)));
    return with_canonical_text(frontend::selector::parse(*text));
  }
  if (const SelectorValue* value = selector_value(object)) return selector_arg(*value);
  return std::unexpected(Error::ostrel(std::string(messages::kExpectedSelector)));
}

Result<platform::SecretBytes> extract_secret_value(PyObject* object) {
  if (PyUnicode_Check(object)) {
    auto bytes = secret_utf8(object);
    if (!bytes) return std::unexpected(Error::ostrel(std::string(messages::kSecretValueType)));
    return std::move(*bytes);
  }
  OSTREL_TRY_ASSIGN(auto bytes, bytes_like(object, kMaxValueItems, [] {
                      return Error::ostrel(messages::secret_value_too_long(kMaxValueItems));
                    }));
  if (bytes) return std::move(*bytes);
  return std::unexpected(Error::ostrel(std::string(messages::kSecretValueType)));
}

Result<InviteInput> extract_invite(PyObject* object) {
  Ref current = Ref::borrow(object);
  // A read() that returns another object with read() is followed a few times, not for ever.
  for (int reads = 0;; ++reads) {
    PyObject* o = current.get();
    if (PyUnicode_Check(o)) {
      auto text = secret_utf8(o);
      if (!text) break;
      return InviteInput{InviteInput::Form::Text, std::move(*text)};
    }
    OSTREL_TRY_ASSIGN(auto bytes, bytes_like(o, kMaxInviteItems, [] {
                        return Error::ostrel(messages::invite_too_long(kMaxInviteItems));
                      }));
    if (bytes) return InviteInput{InviteInput::Form::Bytes, std::move(*bytes)};
    if (reads == kMaxInviteReads) break;
    Ref next = Ref::steal(PyObject_CallMethod(o, "read", nullptr));
    if (!next) {
      if (!clear_ordinary_exception()) return std::unexpected(Error::already_set());
      break;
    }
    current = std::move(next);
  }
  return std::unexpected(Error::ostrel(std::string(messages::kExpectedInvite)));
}

}  // namespace ostrel::py
