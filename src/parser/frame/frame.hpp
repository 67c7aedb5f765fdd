// The stack of open block containers.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "error/error.hpp"
#include "sink/sink.hpp"

namespace corvane {

template <ValueSink Sink>
struct Frame {
  using Value = typename Sink::Value;
  enum class Kind : std::uint8_t { Map, Sequence };

  Kind kind;
  std::size_t indent;                // column at which the container's entries start
  typename Sink::Map map;            // Map frames only
  typename Sink::Seq seq;            // Sequence frames only
  std::optional<Value> pending_key;  // Map: a key whose value has not come yet
  bool pending_item = false;         // Sequence: a dash whose value has not come yet

  static Frame open_map(Sink& sink, std::size_t indent) {
    return Frame{Kind::Map, indent, sink.new_map(), {}, std::nullopt, false};
  }
  static Frame open_seq(Sink& sink, std::size_t indent) {
    return Frame{Kind::Sequence, indent, {}, sink.new_seq(), std::nullopt, false};
  }

  bool is_map() const { return kind == Kind::Map; }
  bool awaits_value() const { return is_map() ? pending_key.has_value() : pending_item; }
};

template <ValueSink Sink>
using FrameStack = std::vector<Frame<Sink>>;

// Closes a frame: a key or dash still waiting for its value gets null.
template <ValueSink Sink>
typename Sink::Value into_value(Frame<Sink>&& frame, Sink& sink) {
  if (frame.is_map()) {
    if (frame.pending_key) {
      sink.map_insert(frame.map, std::move(*frame.pending_key), sink.null_value());
    }
    return std::move(frame.map);
  }
  if (frame.pending_item) sink.seq_push(frame.seq, sink.null_value());
  return std::move(frame.seq);
}

// Gives a finished value to the frame that was waiting for it.
template <ValueSink Sink>
void resolve_into(Frame<Sink>& frame, typename Sink::Value value, Sink& sink) {
  if (frame.is_map()) {
    if (frame.pending_key) {
      auto key = std::move(*frame.pending_key);
      frame.pending_key.reset();
      sink.map_insert(frame.map, std::move(key), std::move(value));
    }
    return;
  }
  frame.pending_item = false;
  sink.seq_push(frame.seq, std::move(value));
}

// Pops the top frame and hands its value to the frame below, or returns it when the stack is
// left empty.
template <ValueSink Sink>
std::optional<typename Sink::Value> close_top(FrameStack<Sink>& stack, Sink& sink) {
  auto value = into_value(std::move(stack.back()), sink);
  stack.pop_back();
  if (stack.empty()) return value;
  resolve_into(stack.back(), std::move(value), sink);
  return std::nullopt;
}

// Makes the top frame a sequence at `indent`, opening one where that is allowed.
template <ValueSink Sink>
Result<void> ensure_seq_frame(FrameStack<Sink>& stack, std::size_t indent, std::uint64_t line,
                              Sink& sink) {
  if (!stack.empty()) {
    Frame<Sink>& top = stack.back();
    if (top.indent == indent) {
      if (!top.is_map()) {
        if (top.pending_item) {
          top.pending_item = false;
          sink.seq_push(top.seq, sink.null_value());
        }
        return {};
      }
      if (!top.pending_key) {
        return syntax_error(line, "Expected sequence entry but found a mapping context");
      }
    } else if (!top.awaits_value()) {
      return syntax_error(line, "Unexpected indentation (no pending key or item)");
    }
  }
  stack.push_back(Frame<Sink>::open_seq(sink, indent));
  return {};
}

// Makes the top frame a mapping at `indent`: opens one, continues the current one, or closes a
// sequence that filled the pending key of a mapping at the same column.
template <ValueSink Sink>
Result<void> ensure_map_frame(FrameStack<Sink>& stack, std::size_t indent, std::uint64_t line,
                              Sink& sink) {
  if (!stack.empty()) {
    Frame<Sink>& top = stack.back();
    if (top.indent == indent) {
      if (top.is_map()) {
        if (top.pending_key) {
          auto key = std::move(*top.pending_key);
          top.pending_key.reset();
          sink.map_insert(top.map, std::move(key), sink.null_value());
        }
        return {};
      }
      const bool fills_key_at_same_column =
          stack.size() >= 2 && stack[stack.size() - 2].indent == indent &&
          stack[stack.size() - 2].is_map() && stack[stack.size() - 2].pending_key.has_value();
      if (!fills_key_at_same_column) {
        return syntax_error(line, "Expected mapping entry but found a sequence context");
      }
      close_top(stack, sink);
      return {};
    }
    if (!top.awaits_value()) {
      return syntax_error(line, "Unexpected indentation (no pending key or item)");
    }
  }
  stack.push_back(Frame<Sink>::open_map(sink, indent));
  return {};
}

}  // namespace corvane
