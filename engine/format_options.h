// Options of a target's family, carried through a job without the engine
// knowing what they are: one value of each type the family defines (its
// header holds the struct), set by the front ends, read by its writer.
#pragma once
#include <any>
#include <vector>

namespace morph {

class FormatOptions {
 public:
  // The value of type T, made with its defaults when there is none yet.
  template <class T>
  T& get() {
    for (std::any& value : values_)
      if (T* found = std::any_cast<T>(&value)) return *found;
    return *std::any_cast<T>(&values_.emplace_back(std::in_place_type<T>));
  }
  // The value of type T, or nullptr when none was set.
  template <class T>
  const T* find() const {
    for (const std::any& value : values_)
      if (const T* found = std::any_cast<T>(&value)) return found;
    return nullptr;
  }
  // A copy of the value of type T, or T's defaults.
  template <class T>
  T value() const {
    const T* found = find<T>();
    return found ? *found : T{};
  }

 private:
  std::vector<std::any> values_;
};

}  // namespace morph
