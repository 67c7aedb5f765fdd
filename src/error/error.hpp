// The error value that every parsing step returns instead of throwing, and the two kinds of
// failure that abandon a call instead.
//
// How failures travel:
// - A document that is refused (not valid in the accepted language, or using a YAML feature
//   that is left out) is a value: every parsing step returns its result or a LoadError, the
//   first error ends the parse and travels up unchanged, and what was built is released on the
//   way. The binding layer alone turns it into ParseError or UnsupportedFeatureError.
// - A failure of the interpreter itself (no memory for an object, a refused insertion), a
//   failed C++ allocation, or a document too large for a fixed-width table (CapacityExceeded)
//   is a C++ exception that abandons the whole call. No input that fits in memory causes the
//   first two. The binding layer catches every exception at its entry points, so none crosses
//   into the interpreter: the first two become the internal error, the last an OverflowError.
// - A Python error is pending only inside the binding layer: between the call into the
//   interpreter that set it and the return of null to the interpreter, or while the internal
//   error's message is made from it. The core never sees one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <version>

#if defined(__cpp_lib_expected) && __cpp_lib_expected >= 202202L
#include <expected>
#define CORVANE_HAS_STD_EXPECTED 1
#else
#include <optional>
#include <type_traits>
#include <variant>
#define CORVANE_HAS_STD_EXPECTED 0
#endif

#include "base/attributes.hpp"

namespace corvane {

enum class ErrorKind : std::uint8_t {
  Syntax,       // the input is not valid in the accepted language
  Unsupported,  // the input uses a YAML feature that Corvane leaves out
};

struct LoadError {
  ErrorKind kind;
  std::uint64_t line;  // 1-based physical line number
  std::string message;
};

#if CORVANE_HAS_STD_EXPECTED
using std::unexpected;

template <class T>
using Result = std::expected<T, LoadError>;
#else
// g++ 11 has no <expected>, and libstdc++ 12 hides it from clang 16, which reports an older
// concepts level. What the parser uses of std::expected, with the same spelling.
template <class E>
class unexpected {
 public:
  template <class G = E>
    requires std::is_constructible_v<E, G>
  constexpr explicit unexpected(G&& error) : error_(std::forward<G>(error)) {}

  constexpr E& error() & noexcept { return error_; }
  constexpr const E& error() const& noexcept { return error_; }
  constexpr E&& error() && noexcept { return std::move(error_); }

 private:
  E error_;
};

template <class E>
unexpected(E) -> unexpected<E>;

template <class T>
inline constexpr bool is_unexpected_v = false;
template <class E>
inline constexpr bool is_unexpected_v<unexpected<E> > = true;

template <class T, class E>
class expected {
 public:
  using value_type = T;
  using error_type = E;

  constexpr expected()
    requires std::is_default_constructible_v<T>
      : state_(std::in_place_index<0>) {}

  template <class U = T>
    requires(std::is_constructible_v<T, U> && !std::is_same_v<std::remove_cvref_t<U>, expected> &&
             !is_unexpected_v<std::remove_cvref_t<U> > &&
             !std::is_same_v<std::remove_cvref_t<U>, std::in_place_t>)
  constexpr explicit(!std::is_convertible_v<U, T>) expected(U&& value)
      : state_(std::in_place_index<0>, std::forward<U>(value)) {}

  template <class G>
  constexpr expected(const unexpected<G>& failure)
      : state_(std::in_place_index<1>, failure.error()) {}
  template <class G>
  constexpr expected(unexpected<G>&& failure)
      : state_(std::in_place_index<1>, std::move(failure).error()) {}

  constexpr bool has_value() const noexcept { return state_.index() == 0; }
  constexpr explicit operator bool() const noexcept { return has_value(); }

  constexpr T& operator*() & noexcept { return *std::get_if<0>(&state_); }
  constexpr const T& operator*() const& noexcept { return *std::get_if<0>(&state_); }
  constexpr T&& operator*() && noexcept { return std::move(*std::get_if<0>(&state_)); }
  constexpr T* operator->() noexcept { return std::get_if<0>(&state_); }
  constexpr const T* operator->() const noexcept { return std::get_if<0>(&state_); }

  constexpr E& error() & noexcept { return *std::get_if<1>(&state_); }
  constexpr const E& error() const& noexcept { return *std::get_if<1>(&state_); }
  constexpr E&& error() && noexcept { return std::move(*std::get_if<1>(&state_)); }

 private:
  std::variant<T, E> state_;
};

template <class E>
class expected<void, E> {
 public:
  using value_type = void;
  using error_type = E;

  constexpr expected() noexcept = default;
  template <class G>
  constexpr expected(const unexpected<G>& failure) : error_(failure.error()) {}
  template <class G>
  constexpr expected(unexpected<G>&& failure) : error_(std::move(failure).error()) {}

  constexpr bool has_value() const noexcept { return !error_.has_value(); }
  constexpr explicit operator bool() const noexcept { return has_value(); }
  constexpr void operator*() const noexcept {}

  constexpr E& error() & noexcept { return *error_; }
  constexpr const E& error() const& noexcept { return *error_; }
  constexpr E&& error() && noexcept { return std::move(*error_); }

 private:
  std::optional<E> error_;
};

template <class T>
using Result = expected<T, LoadError>;
#endif

// Errors are built out of line and kept apart from the code that parses, which stays small.
CORVANE_COLD inline unexpected<LoadError> syntax_error(std::uint64_t line, std::string message) {
  return unexpected(LoadError{ErrorKind::Syntax, line, std::move(message)});
}

CORVANE_COLD inline unexpected<LoadError> syntax_error(std::uint64_t line, const char* message) {
  return unexpected(LoadError{ErrorKind::Syntax, line, message});
}

CORVANE_COLD inline unexpected<LoadError> unsupported(std::uint64_t line, const char* message) {
  return unexpected(LoadError{ErrorKind::Unsupported, line, message});
}

// A document that does not fit a table with fixed-width fields; `message` is a constant text.
struct CapacityExceeded {
  const char* message;
};

inline constexpr const char* kTabMessage = "Tabs are not permitted; use 2-space indentation";
inline constexpr const char* kMergeKeyMessage = "Merge keys (<<) are not supported in Corvane";

}  // namespace corvane
