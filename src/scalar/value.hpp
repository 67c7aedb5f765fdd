// Scalar, the typed value of one scalar (null, bool, int, float or string), and the buffer
// that a decoded string owns.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

namespace corvane {

// Room for decoded text, written in place and then handed to a Scalar.
using TextBuffer = std::unique_ptr<char[]>;
inline TextBuffer new_text_buffer(std::size_t capacity) {
  return std::make_unique_for_overwrite<char[]>(capacity);
}

// The typed value of one scalar. A `Str` is a view into the input unless a quoted scalar had
// escapes or doubled quotes to decode. Decoded text lives in a buffer that the scalar owns (a
// plain pointer, so that moving a scalar is a few word copies) or, when short, in the decoding
// thread's reused buffer: such a view holds until the next quoted scalar is decoded, and the
// parser hands every scalar to its sink before it reads the next.
class Scalar {
 public:
  enum class Kind : std::uint8_t { Null, Bool, Int, Float, Str };

  static Scalar null() { return Scalar(Kind::Null); }
  static Scalar boolean(bool value) {
    Scalar s(Kind::Bool);
    s.bool_ = value;
    return s;
  }
  static Scalar integer(std::int64_t value) {
    Scalar s(Kind::Int);
    s.int_ = value;
    return s;
  }
  static Scalar floating(double value) {
    Scalar s(Kind::Float);
    s.float_ = value;
    return s;
  }
  static Scalar view(std::string_view text) {
    Scalar s(Kind::Str);
    s.view_ = text;
    return s;
  }
  // The first `size` bytes of `buffer`.
  static Scalar owned(TextBuffer buffer, std::size_t size) {
    Scalar s = decoded(std::string_view(buffer.get(), size));
    s.owned_ = std::move(buffer);
    return s;
  }
  // Decoded text that lives in the thread's reused buffer.
  static Scalar decoded(std::string_view text) {
    Scalar s = view(text);
    s.decoded_ = true;
    return s;
  }

  Kind kind() const { return kind_; }
  // Whether the text was decoded, so is not a view into the input.
  bool is_decoded() const { return decoded_; }
  bool as_bool() const { return bool_; }
  std::int64_t as_int() const { return int_; }
  double as_float() const { return float_; }
  std::string_view as_str() const { return view_; }

 private:
  explicit Scalar(Kind kind) : kind_(kind) {}

  Kind kind_;
  bool decoded_ = false;
  // Only the member that `kind_` names is meaningful; one scalar is made per value, so the
  // object is kept small.
  union {
    bool bool_;
    std::int64_t int_;
    double float_ = 0.0;
  };
  std::string_view view_;
  TextBuffer owned_;
};

}  // namespace corvane
