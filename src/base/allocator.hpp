// An allocator for std::vector that takes memory straight from operator new. libstdc++ 12's own
// allocator may keep, in code the optimiser splits out, a size check that calls a runtime
// function newer than the C++ library of the oldest Linux systems the wheels are built for; a
// vector never asks for more than its max_size(), so the check has nothing to catch.
#pragma once

#include <cstddef>
#include <new>

namespace corvane {

template <class T>
struct PlainAllocator {
  using value_type = T;

  PlainAllocator() = default;
  template <class U>
  constexpr PlainAllocator(const PlainAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }
  void deallocate(T* memory, std::size_t) noexcept { ::operator delete(memory); }

  template <class U>
  friend constexpr bool operator==(const PlainAllocator&, const PlainAllocator<U>&) noexcept {
    return true;
  }
};

}  // namespace corvane
