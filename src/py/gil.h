// The interpreter lock as this module's code holds it: the thread's nesting count, which every
// call frame raises for as long as it runs and a release of the lock (AllowThreads) saves and sets
// to 0, and the check behind every Ref: a Python reference is released only while the count shows
// the lock held. Per-thread state only; safe from any thread.
#pragma once

#include "py/python.h"

namespace ostrel::py {

// How many call frames of this module the calling thread is inside while it holds the interpreter
// lock; 0 outside every frame and while a frame has released the lock.
int gil_count();

// Counts the interpreter lock as held by this thread for its lifetime: the first step of every
// call frame. REQUIRES: the interpreter called in with the lock held.
class GilHeld {
 public:
  GilHeld();
  ~GilHeld();
  GilHeld(const GilHeld&) = delete;
  GilHeld& operator=(const GilHeld&) = delete;
};

// Releases the interpreter lock for its lifetime (the nesting count saved and set to 0) and
// re-takes it when it ends, also when a failure unwinds through it. REQUIRES: the lock is held.
class AllowThreads {
 public:
  AllowThreads();
  ~AllowThreads();
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;

  // Takes the lock back for a moment inside the released stretch, and releases it again.
  void reacquire();
  void release_again();

 private:
  PyThreadState* saved_;
  int count_;
};

}  // namespace ostrel::py
