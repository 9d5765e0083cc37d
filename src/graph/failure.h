// The one way a core can fail: an internal failure (a broken invariant or an
// exhausted index space). The boundary turns it into PanicException.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

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

}  // namespace lhg
