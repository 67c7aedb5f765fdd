// The error value that every parsing step returns instead of throwing.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <utility>

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

template <class T>
using Result = std::expected<T, LoadError>;

// Errors are built out of line and kept apart from the code that parses, which stays small.
CORVANE_COLD inline std::unexpected<LoadError> syntax_error(std::uint64_t line,
                                                            std::string message) {
  return std::unexpected(LoadError{ErrorKind::Syntax, line, std::move(message)});
}

CORVANE_COLD inline std::unexpected<LoadError> syntax_error(std::uint64_t line,
                                                            const char* message) {
  return std::unexpected(LoadError{ErrorKind::Syntax, line, message});
}

CORVANE_COLD inline std::unexpected<LoadError> unsupported(std::uint64_t line,
                                                           const char* message) {
  return std::unexpected(LoadError{ErrorKind::Unsupported, line, message});
}

inline constexpr const char* kTabMessage = "Tabs are not permitted; use 2-space indentation";
inline constexpr const char* kMergeKeyMessage = "Merge keys (<<) are not supported in Corvane";

}  // namespace corvane
