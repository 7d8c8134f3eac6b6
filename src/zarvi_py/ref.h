// Ref: one owned reference to a Python object; guard: the boundary that turns
// any C++ failure into a Python exception. Only the extension includes this.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cxxabi.h>

#include <exception>
#include <new>
#include <string_view>
#include <utility>

namespace zarvi_py {

// Set on a thread that the interpreter ends while it retakes the lock (a
// daemon thread at exit), there or inside a call into Python (see calling):
// the unwind that follows holds no lock, so the references dropped and the
// producers' structs left on the way out are leaked rather than touched.
inline constinit thread_local bool thread_ending = false;

// Runs `call`, a call into Python that may run Python code or release the
// lock. The interpreter may end the thread inside it by unwinding it without
// the lock: that unwind marks the thread before it reaches any reference the
// caller holds, and passes on. (Its exception object is null; see
// raise_current.)
template <class F>
__attribute__((no_sanitize("undefined"))) auto calling(F&& call) -> decltype(call()) {
  try {
    return call();
  } catch (abi::__forced_unwind&) {
    thread_ending = true;
    throw;
  }
}

// Dropping a reference may run Python code (a finalizer), so it may end the
// thread too: hence the destructor that may throw.
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (or null, when a call failed).
  static Ref steal(PyObject* o) noexcept { return Ref(o); }
  // Adds a reference to a borrowed object.
  static Ref borrow(PyObject* o) noexcept {
    Py_XINCREF(o);
    return Ref(o);
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref&& o) noexcept(false) {
    if (this != &o) drop(std::exchange(p_, std::exchange(o.p_, nullptr)));
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() noexcept(false) { drop(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  static void drop(PyObject* p) {
    if (p != nullptr && !thread_ending) calling([p] { Py_DECREF(p); });
  }
  PyObject* p_ = nullptr;
};

inline Ref new_ref(PyObject* o) noexcept { return Ref::borrow(o); }

// Sets RuntimeError for an internal fault that escaped as a C++ exception.
void set_internal_error(const char* what) noexcept;

// Turns the C++ exception being handled into a Python exception; the one
// let through is the unwind that ends the thread when the interpreter exits,
// which must reach the thread's start. That unwind has a null exception
// object, which UBSan would report where it is bound, hence the attribute.
[[gnu::noinline]] __attribute__((no_sanitize("undefined"))) inline void raise_current() {
  try {
    throw;
  } catch (abi::__forced_unwind&) {
    thread_ending = true;
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    set_internal_error(e.what());
  } catch (...) {
    set_internal_error("unknown exception");
  }
}

// Runs body and returns what it returns; any C++ exception becomes a Python
// exception and `failed` is returned instead of unwinding into the interpreter
// (see raise_current). Nothing on the way from the lock to the interpreter is
// noexcept.
template <class R, class F>
R guarded(F&& body, R failed) {
  try {
    return body();
  } catch (...) {
    raise_current();
  }
  return failed;
}

// guarded for entry points returning a new reference (null on error)...
template <class F>
PyObject* guard(F&& body) {
  return guarded<PyObject*>([&] { return body().release(); }, nullptr);
}

// ...and for those returning an int status (-1 on error).
template <class F>
int guard_int(F&& body) {
  return guarded<int>(std::forward<F>(body), -1);
}

// Releases the interpreter lock for its scope; touch no PyObject inside.
// Retaking the lock at exit may end the thread by unwinding it, hence the
// destructor that may throw.
class AllowThreads {
 public:
  AllowThreads() noexcept : state_(PyEval_SaveThread()) {}
  ~AllowThreads() noexcept(false) {
    // Stays set when retaking the lock ends the thread instead of returning.
    thread_ending = true;
    PyEval_RestoreThread(state_);
    thread_ending = false;
  }
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;

 private:
  PyThreadState* state_;
};

// Keeps the error indicator across its scope: a destructor or a release
// callback may run while an exception propagates, and must leave it as it
// found it, whatever the calls inside set or clear. A thread that the
// interpreter is ending holds no lock, so the exception is leaked then.
class SavedError {
 public:
  SavedError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
  ~SavedError() {
    if (!thread_ending) PyErr_Restore(type_, value_, traceback_);
  }
  SavedError(const SavedError&) = delete;
  SavedError& operator=(const SavedError&) = delete;

 private:
  PyObject* type_ = nullptr;
  PyObject* value_ = nullptr;
  PyObject* traceback_ = nullptr;
};

// A new str from UTF-8 text (invalid bytes replaced), or a new bytes object.
Ref str_from(std::string_view text);
Ref bytes_from(std::string_view bytes);

}  // namespace zarvi_py
