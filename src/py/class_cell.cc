#include "py/class_cell.h"

#include <utility>

#include "py/gil.h"

namespace ostrel::py {
namespace {

// Thrown inside the once-initialisation so that a failed creation leaves the cell unfilled.
struct CreationFailed {
  Error error;
};

}  // namespace

Result<PyObject*> class_cell_get(ClassCell& cell, ClassCreator create) {
  if (PyObject* ready = cell.object.load(std::memory_order_acquire)) return ready;
  AllowThreads released;
  if (PyObject* ready = cell.object.load(std::memory_order_acquire)) return ready;
  try {
    std::call_once(cell.once, [&] {
      released.reacquire();
      // Whatever happens below, the lock is given up again before call_once returns, so that a
      // waiting thread re-takes it itself.
      struct Release {
        AllowThreads& a;
        ~Release() { a.release_again(); }
      } release{released};
      auto made = create();
      if (!made) throw CreationFailed{std::move(made.error())};
      cell.object.store(*made, std::memory_order_release);
    });
  } catch (CreationFailed& failed) {
    return std::unexpected(std::move(failed.error));
  }
  return cell.object.load(std::memory_order_acquire);
}

}  // namespace ostrel::py
