// The interpreter-lock nesting count that the call frames keep, and the check it exists for: a
// Python reference is released only while a frame of this thread holds the interpreter lock.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "py/frame.h"
#include "py/gil.h"
#include "py/python.h"

namespace ostrel::py {
namespace {

constexpr const char* kReleasedUnheld = "a Python reference was released without the interpreter lock";

class Interpreter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Py_IsInitialized()) Py_InitializeEx(0);
  }
};
using InterpreterDeathTest = Interpreter;

// A new object that only the caller holds, so that releasing it frees it.
PyObject* fresh_object() { return PyList_New(0); }

TEST_F(Interpreter, FramesCountTheLockThatAReleaseOfItSetsToZeroAndGivesBack) {
  std::vector<int> seen;
  EXPECT_EQ(gil_count(), 0);
  PyObject* made = object_frame("outer", [&]() -> Result<Ref> {
    seen.push_back(gil_count());
    Ref inner = Ref::steal(object_frame("inner", [&]() -> Result<Ref> {
      seen.push_back(gil_count());
      return Ref::steal(fresh_object());
    }));
    {
      AllowThreads released;
      seen.push_back(gil_count());
    }
    seen.push_back(gil_count());
    return inner;
  });
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 0, 1}));
  EXPECT_EQ(gil_count(), 0);
  Py_DECREF(made);
}

// A failure that unwinds through a release of the lock takes the lock and the count back on its
// way, so the frame raises it (and releases the body's references) with the lock held.
TEST_F(Interpreter, AFailureWhileTheLockIsReleasedReachesTheFrameWithTheLockHeld) {
  PyObject* made = object_frame("failing", [&]() -> Result<Ref> {
    Ref held = Ref::steal(fresh_object());
    AllowThreads released;
    throw std::runtime_error("failed while released");
  });
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(gil_count(), 0);
  ASSERT_NE(PyErr_Occurred(), nullptr);
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  EXPECT_FALSE(PyErr_GivenExceptionMatches(type, PyExc_Exception));
  EXPECT_TRUE(PyErr_GivenExceptionMatches(type, PyExc_BaseException));
  PyObject* text = PyObject_Str(value);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(PyUnicode_AsUTF8AndSize(text, nullptr), "failed while released");
  Py_DECREF(text);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
}

TEST_F(InterpreterDeathTest, AReferenceReleasedOutsideEveryFrameStopsTheProcess) {
  EXPECT_DEATH({ Ref outside = Ref::steal(fresh_object()); }, kReleasedUnheld);
}

TEST_F(InterpreterDeathTest, AReferenceReleasedWhileItsFrameHasReleasedTheLockStopsTheProcess) {
  EXPECT_DEATH(object_frame("releasing",
                            [&]() -> Result<Ref> {
                              Ref held = Ref::steal(fresh_object());
                              AllowThreads released;
                              held = Ref();
                              return Ref::borrow(Py_None);
                            }),
               kReleasedUnheld);
}

}  // namespace
}  // namespace ostrel::py
