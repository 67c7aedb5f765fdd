// Turns the text of a block value (a mapping value or a sequence item) into a value, by its
// first character.
#pragma once

#include <cstdint>
#include <string_view>

#include "error/error.hpp"
#include "flow/flow.hpp"
#include "parser/block/block.hpp"
#include "parser/feed/feed.hpp"
#include "scalar/scalar.hpp"
#include "sink/sink.hpp"

namespace corvane {

// `indent` is the column of the entry that owns the value; only block scalars use it.
template <ValueSink Sink>
Result<typename Sink::Value> value_to_node(std::string_view text, std::uint64_t line,
                                           std::size_t indent, Sink& sink, LineFeed& feed) {
  if (!text.empty()) {
    switch (text[0]) {
      case '#': return sink.null_value();
      case '|':
      case '>': return parse_block_scalar(text, line, indent, sink, feed);
      case '[':
      case '{': return parse_flow(text, line, sink);
      default: break;
    }
  }
  auto scalar = !text.empty() && is_plain_start(text[0])
                    ? classify_plain_value<Sink::yaml_1_1_bools>(text, line, feed.input_end())
                    : classify_value_scalar<Sink::yaml_1_1_bools>(text, line);
  if (!scalar) return unexpected(std::move(scalar.error()));
  note_if_plain(sink, text);
  return sink.make_value(std::move(*scalar));
}

}  // namespace corvane
