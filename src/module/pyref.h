// An owning handle for one strong reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace lhg::py {

class Ref {
 public:
  Ref() noexcept = default;
  ~Ref() { Py_XDECREF(obj_); }
  Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;

  // Takes over a new reference (which may be NULL).
  static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
  // Adds a reference of its own to a borrowed one.
  static Ref borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return Ref(obj);
  }

  PyObject* get() const noexcept { return obj_; }
  PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(obj_, other.obj_); }

 private:
  explicit Ref(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

}  // namespace lhg::py
