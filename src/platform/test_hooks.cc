#include "platform/test_hooks.h"

#if defined(OSTREL_TEST_HOOKS)

#include <utility>

namespace ostrel::platform {
namespace {

StepObserver& observer() {
  static StepObserver instance;
  return instance;
}

}  // namespace

void set_step_observer(StepObserver o) { observer() = std::move(o); }

void step_reached(std::string_view step, const std::filesystem::path& subject) {
  if (const StepObserver& o = observer()) o(step, subject);
}

}  // namespace ostrel::platform

#endif
