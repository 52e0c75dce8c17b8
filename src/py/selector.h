// The Python class Selector: an immutable value naming a secret by its path segments and its
// labels (kept in name order). Instances never change after creation; any thread may read them
// while it holds the interpreter lock.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/access.h"
#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

struct SelectorValue {
  std::vector<std::string> path;
  std::map<std::string, std::string> labels;  // std::string orders by bytes, unsigned

  // The stored shape, exactly these texts (no normalisation).
  core::SecretSelectorV1 as_record() const;
  // The canonical selector text.
  std::string canonical_text() const;
  // Whether `record` holds exactly these texts in this order (nothing normalised or reordered).
  bool holds(const core::SecretSelectorV1& record) const;
};

// The class object, created on first use.
Result<PyObject*> selector_type();
// Whether `object` is a Selector instance; its value when it is.
const SelectorValue* selector_value(PyObject* object);
// A new instance holding `value` as it is (the constructor's checks are not run).
Result<Ref> selector_into_object(SelectorValue value);

}  // namespace ostrel::py
