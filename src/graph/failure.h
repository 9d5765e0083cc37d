// How a core fails. An internal failure (a broken invariant or an exhausted
// index space) the boundary turns into PanicException; input from outside
// that is not what it claims to be (a damaged file), into ValueError; a
// failure of the system on a file, into OSError.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>
#include <utility>

namespace lhg {

class InternalFailure : public std::runtime_error {
 public:
  explicit InternalFailure(const std::string& message,
                           std::source_location where = std::source_location::current())
      : std::runtime_error(message), where_(where) {}

  const std::source_location& where() const noexcept { return where_; }

 private:
  std::source_location where_;
};

// Input that cannot be read as what it claims to be; the message says where
// and why, in one line.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A system call that failed on a file: errno's value and the file's path.
class FileFailure : public std::runtime_error {
 public:
  FileFailure(int error, std::string path) : std::runtime_error(path), error_(error), path_(std::move(path)) {}
  int error() const noexcept { return error_; }
  const std::string& path() const noexcept { return path_; }

 private:
  int error_;
  std::string path_;
};

}  // namespace lhg
