// Literal (|) and folded (>) block scalars.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error/error.hpp"
#include "parser/feed/feed.hpp"
#include "sink/sink.hpp"

namespace corvane {

enum class Chomping : std::uint8_t { Clip, Strip, Keep };

struct BlockHeader {
  bool folded = false;
  Chomping chomping = Chomping::Clip;
  std::optional<std::size_t> indent;  // explicit indentation indicator, 1 to 9
};

Result<BlockHeader> parse_block_header(std::string_view text, std::uint64_t line);

// Joins the content lines, dropping `indent` bytes of each, by the literal or folded rules,
// then applies chomping. `lines` is one or more whole lines of the input as they stand there,
// from the first byte of the first to the end of the last, line feeds between them.
std::string assemble_block(std::string_view lines, std::size_t indent, bool folded,
                           Chomping chomping);

// Reads the scalar whose header is `text` from the feed; the first line that does not belong
// to it is given back to the feed.
Result<std::string> read_block_scalar(std::string_view text, std::uint64_t line,
                                      std::size_t parent_indent, LineFeed& feed);

template <ValueSink Sink>
Result<typename Sink::Value> parse_block_scalar(std::string_view text, std::uint64_t line,
                                                std::size_t parent_indent, Sink& sink,
                                                LineFeed& feed) {
  auto content = read_block_scalar(text, line, parent_indent, feed);
  if (!content) return unexpected(std::move(content.error()));
  return sink.make_string_value(std::move(*content));
}

}  // namespace corvane
