// The block parser: reads the document line by line, keeps the stack of open block
// containers and builds the value through the sink as it goes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/attributes.hpp"
#include "error/error.hpp"
#include "parser/feed/feed.hpp"
#include "parser/frame/frame.hpp"
#include "parser/scan/scan.hpp"
#include "parser/value/value.hpp"
#include "scalar/scalar.hpp"
#include "sink/sink.hpp"

namespace corvane {

inline unexpected<LoadError> unexpected_after_root(std::uint64_t line) {
  return syntax_error(line,
                      "Unexpected content after the document root (multi-line plain scalars and "
                      "multi-document streams are not supported)");
}

CORVANE_COLD inline unexpected<LoadError> invalid_indentation(std::uint64_t line,
                                                              std::size_t indent) {
  return syntax_error(
      line, "Invalid indentation: " + std::to_string(indent) + " spaces (must be a multiple of 2)");
}

template <ValueSink Sink>
class Parser {
 public:
  using Value = typename Sink::Value;

  Parser(std::string_view input, Sink& sink) : sink_(sink), feed_(input) {
    // Enough for the nesting of most documents, so the stack grows once rather than five times.
    stack_.reserve(16);
  }

  Result<Value> parse() {
    while (auto next = feed_.next()) {
      const std::uint64_t line = next->number;
      const std::string_view text = strip_carriage_returns(next->text);
      // The common line is read here, in registers; the others go through scan_line.
      const std::size_t indent = next->indent;
      std::string_view content;
      if (indent == text.size()) continue;  // blank
      if (is_printable_ascii(text[indent])) {
        if (text[indent] == '#') continue;  // a comment line
        content = text.substr(indent);
      } else {
        auto scanned = scan_line(text, line);
        if (!scanned) return unexpected(std::move(scanned.error()));
        if (!*scanned) continue;
        content = (*scanned)->content;
      }
      if (auto refused = check_unsupported(content, line); !refused) {
        return unexpected(std::move(refused.error()));
      }
      if (indent % 2 != 0) return invalid_indentation(line, indent);
      close_deeper(indent);
      Result<void> done = dispatch(content, indent, line);
      if (!done) return unexpected(std::move(done.error()));
    }
    while (!stack_.empty()) {
      if (auto value = close_top(stack_, sink_)) root_ = std::move(value);
    }
    if (!root_) return sink_.null_value();
    return std::move(*root_);
  }

 private:
  void close_deeper(std::size_t indent) {
    while (!stack_.empty() && stack_.back().indent > indent) {
      if (auto value = close_top(stack_, sink_)) root_ = std::move(value);
    }
  }

  Result<void> dispatch(std::string_view content, std::size_t indent, std::uint64_t line) {
    if (is_sequence_entry(content)) return sequence_entry(content, indent, line);
    if (auto colon = find_map_colon(content, feed_.input_end())) {
      if (stack_.empty() && root_) return unexpected_after_root(line);
      return process_map_entry(content, *colon, indent, line);
    }
    if (opens_flow(content)) return flow_line(content, indent, line);
    return bare_scalar(content, indent, line);
  }

  // One block mapping entry: `content` has its separator colon at `colon`; `indent` is the
  // column of the key.
  Result<void> process_map_entry(std::string_view content, std::size_t colon, std::size_t indent,
                                 std::uint64_t line) {
    if (auto framed = ensure_map_frame(stack_, indent, line, sink_); !framed) return framed;
    sink_.report_line(stack_.back().map, line);
    std::string_view key_text = trim_end(content.substr(0, colon));
    std::string_view value_text =
        colon + 2 > content.size() ? std::string_view() : trim_start(content.substr(colon + 2));
    if (key_text == "<<") return unsupported(line, kMergeKeyMessage);
    // A key seen before in this document typed without error then, and types the same now.
    std::optional<typename Sink::Value> cached = sink_.find_block_key(key_text);
    if (!cached) {
      auto key_scalar = classify_key_scalar_inline<Sink::yaml_1_1_bools>(key_text, line);
      if (!key_scalar) return unexpected(std::move(key_scalar.error()));
      cached = sink_.make_block_key(std::move(*key_scalar), key_text);
    }
    auto key = std::move(*cached);
    if constexpr (Sink::strict) {
      if (sink_.map_has_key(stack_.back().map, key)) {
        return syntax_error(line, "Duplicate key: " + sink_.describe_key(key));
      }
    }
    if (value_text.empty()) {
      stack_.back().pending_key = std::move(key);
      return {};
    }
    auto value = value_to_node(value_text, line, indent, sink_, feed_);
    if (!value) return unexpected(std::move(value.error()));
    sink_.map_insert(stack_.back().map, std::move(key), std::move(*value));
    return {};
  }

  Result<void> sequence_entry(std::string_view rest, std::size_t column, std::uint64_t line) {
    if (stack_.empty() && root_) return unexpected_after_root(line);
    for (;;) {
      if (auto framed = ensure_seq_frame(stack_, column, line, sink_); !framed) return framed;
      sink_.report_line(stack_.back().seq, line);
      if (rest.size() <= 2) {
        stack_.back().pending_item = true;
        return {};
      }
      std::string_view item = rest.substr(2);
      if (item[0] == '\t') return syntax_error(line, kTabMessage);
      // Extra spaces after the dash do not change what the item is.
      item.remove_prefix(leading_spaces(item));
      if (is_sequence_entry(item)) {
        stack_.push_back(Frame<Sink>::open_seq(sink_, column + 2));
        rest = item;
        column += 2;
        continue;
      }
      // A comment is never data: `- # a: b` is a null item, whatever the comment holds. A flow
      // collection never has a separator colon; both fall through to the value.
      if (auto colon =
              item.starts_with('#') ? std::nullopt : find_map_colon(item, feed_.input_end())) {
        stack_.push_back(Frame<Sink>::open_map(sink_, column + 2));
        return process_map_entry(item, *colon, column + 2, line);
      }
      auto value = value_to_node(item, line, column, sink_, feed_);
      if (!value) return unexpected(std::move(value.error()));
      resolve_into(stack_.back(), std::move(*value), sink_);
      return {};
    }
  }

  Result<void> flow_line(std::string_view content, std::size_t indent, std::uint64_t line) {
    auto value = value_to_node(content, line, indent, sink_, feed_);
    if (!value) return unexpected(std::move(value.error()));
    if (!stack_.empty()) {
      if (!stack_.back().awaits_value()) {
        return syntax_error(line, "Unexpected flow collection (no pending key or item)");
      }
      resolve_into(stack_.back(), std::move(*value), sink_);
      return {};
    }
    if (root_) return unexpected_after_root(line);
    root_ = std::move(*value);
    return {};
  }

  Result<void> bare_scalar(std::string_view content, std::size_t indent, std::uint64_t line) {
    if (!stack_.empty()) return syntax_error(line, "Unexpected bare scalar inside a container");
    if (root_) return unexpected_after_root(line);
    auto value = value_to_node(content, line, indent, sink_, feed_);
    if (!value) return unexpected(std::move(value.error()));
    root_ = std::move(*value);
    return {};
  }

  Sink& sink_;
  LineFeed feed_;
  FrameStack<Sink> stack_;
  std::optional<Value> root_;
};

}  // namespace corvane
