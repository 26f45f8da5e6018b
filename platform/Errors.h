// The invalid-argument error: raised when an index falls outside a growable
// array. The window framework catches it at message dispatch.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <vector>

namespace qm {

class InvalidArgumentError : public std::invalid_argument {
 public:
  InvalidArgumentError() : std::invalid_argument("index out of range") {}
};

// Element `index` of `items`, or InvalidArgumentError.
template <typename T>
T& CheckedAt(std::vector<T>& items, long long index) {
  if (index < 0 || static_cast<unsigned long long>(index) >= items.size()) throw InvalidArgumentError();
  return items[static_cast<std::size_t>(index)];
}
template <typename T>
const T& CheckedAt(const std::vector<T>& items, long long index) {
  if (index < 0 || static_cast<unsigned long long>(index) >= items.size()) throw InvalidArgumentError();
  return items[static_cast<std::size_t>(index)];
}

}  // namespace qm
