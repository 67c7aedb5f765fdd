// Flow sequences ([a, b]) and flow mappings ({k: v}) written on one line, nested.
//
// Two readers share one meaning. The exact reader handles every text: a first scan finds the
// closing bracket of the whole collection and of every collection nested in it, so that each
// level afterwards steps over its children instead of scanning their text again, and the
// nesting is kept on an explicit stack rather than the C stack. Its results and errors are
// those of reading each level on its own (its brackets, then what follows its closing bracket,
// then its entries in order), and that order of errors is why it scans more than once.
//
// Most flow collections are plain lists of words, numbers and quoted strings, so a quick
// reader goes first: it reads each byte once and builds the value as it goes, but it accepts
// only a narrow, common shape. On anything else, including every error, it gives up, drops
// what it built and leaves the text to the exact reader, which alone reports errors.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/allocator.hpp"
#include "base/attributes.hpp"
#include "error/error.hpp"
#include "scalar/scalar.hpp"
#include "sink/sink.hpp"

namespace corvane {

// The stack of open collections of one flow text. Nesting is usually shallow, so the first
// levels live inline and only deeper ones reach the heap; references to inline levels stay
// valid while others are pushed.
template <class Level, std::size_t InlineLevels = 8>
class LevelStack {
 public:
  bool empty() const { return size_ == 0; }
  Level& back() { return size_ <= InlineLevels ? *inline_[size_ - 1] : deeper_.back(); }
  void push_back(Level&& level) {
    if (size_ < InlineLevels) {
      inline_[size_].emplace(std::move(level));
    } else {
      deeper_.push_back(std::move(level));
    }
    ++size_;
  }
  void pop_back() {
    --size_;
    if (size_ < InlineLevels) {
      inline_[size_].reset();
    } else {
      deeper_.pop_back();
    }
  }

 private:
  std::array<std::optional<Level>, InlineLevels> inline_{};
  std::vector<Level, PlainAllocator<Level>> deeper_;
  std::size_t size_ = 0;
};

// A collection nested in the one being read. Positions are offsets into the whole flow text;
// brackets are numbered in the order in which they open.
struct NestedBracket {
  std::size_t open;   // position of its opening bracket
  std::size_t close;  // position of its closing bracket
  std::size_t after;  // number of the first bracket that opens after `close`
};

// The bracket structure of one flow text, and the scanners that cut its levels into entries.
class FlowOutline {
 public:
  FlowOutline(std::string_view text, std::uint64_t line) : text_(text), line_(line) {}

  // Finds the closing bracket of the outermost collection (whose opening bracket is text[0])
  // and records every nested one; fails when a bracket is left open or closes with the other
  // kind. Returns the position of the closing bracket.
  Result<std::size_t> strip_brackets();

  // The end of the item that starts at `from`: the first comma (or closing bracket) of this
  // level, or `end`. `ordinal` is the number of the next nested bracket and advances past the
  // collections stepped over.
  std::size_t next_token(std::size_t from, std::size_t end, std::size_t& ordinal) const;

  // The first colon of this level in [from, end).
  Result<std::size_t> split_at_colon(std::size_t from, std::size_t end, std::size_t& ordinal) const;

  // Checks a nested collection that starts at `open` (bracket number `ordinal`) and whose item
  // text ends at `item_end`: its closing bracket must match, and only a comment may follow it.
  // Returns the position of its closing bracket.
  Result<std::size_t> check_nested(std::size_t open, std::size_t ordinal,
                                   std::size_t item_end) const;

  // Fails unless [from, end) holds only whitespace or starts (after whitespace) with `#`.
  Result<void> check_rest(std::size_t from, std::size_t end) const;

  const NestedBracket& bracket(std::size_t ordinal) const { return nested_[ordinal]; }
  std::string_view text() const { return text_; }
  std::uint64_t line() const { return line_; }
  std::size_t skip_whitespace(std::size_t from, std::size_t end) const {
    // Entries are mostly separated by ", ": plain spaces are stepped over here.
    while (from < end && text_[from] == ' ') ++from;
    if (from == end || is_printable_ascii(text_[from])) return from;
    return end - trim_start(text_.substr(from, end - from)).size();
  }
  // [from, end) without whitespace at either end, as a view.
  std::string_view trimmed(std::size_t from, std::size_t end) const {
    return trim(text_.substr(from, end - from));
  }

 private:
  std::string_view text_;
  std::uint64_t line_;
  std::vector<NestedBracket> nested_;
};

// The text shown for `rest` in the unexpected-content message: quoted, with control and other
// non-printable characters escaped.
std::string quote_for_message(std::string_view rest);

inline bool opens_flow(std::string_view text) {
  return !text.empty() && (text[0] == '[' || text[0] == '{');
}

// Whether parse_flow tries the quick reader first. A sink may declare
// `static constexpr bool flow_quick_reader = false;` to have every flow collection read by the
// exact reader alone, which is how the fuzz target compares the two.
template <class Sink>
constexpr bool uses_flow_quick_reader() {
  if constexpr (requires { Sink::flow_quick_reader; }) {
    return Sink::flow_quick_reader;
  } else {
    return true;
  }
}

// How the quick reader treats the item (or mapping key) whose first byte is text[at].
enum class FlowStart : std::uint8_t { Plain, DoubleQuoted, SingleQuoted, Nested, GiveUp };

// FlowStart by first byte, looked up rather than found through a chain of compares whose
// outcome changes from item to item. Non-ASCII bytes need a further look.
inline constexpr std::uint8_t kNonAsciiStart = 5;
inline constexpr auto kFlowStarts = [] {
  std::array<std::uint8_t, 256> table{};
  for (std::size_t c = 0; c < 256; ++c) {
    const bool printable = c > ' ' && c < 0x7F;
    table[c] =
        static_cast<std::uint8_t>(c >= 0x80   ? kNonAsciiStart
                                  : printable ? static_cast<std::uint8_t>(FlowStart::Plain)
                                              : static_cast<std::uint8_t>(FlowStart::GiveUp));
  }
  table['"'] = static_cast<std::uint8_t>(FlowStart::DoubleQuoted);
  table['\''] = static_cast<std::uint8_t>(FlowStart::SingleQuoted);
  table['['] = table['{'] = static_cast<std::uint8_t>(FlowStart::Nested);
  // Empty items, closing brackets, comments and the refused indicators.
  for (const char c : {',', ']', '}', '#', '!', '&', '*'}) {
    table[static_cast<unsigned char>(c)] = static_cast<std::uint8_t>(FlowStart::GiveUp);
  }
  return table;
}();

inline FlowStart flow_item_start(std::string_view text, std::size_t at, bool is_key) {
  const auto c = static_cast<unsigned char>(text[at]);
  const std::uint8_t start = kFlowStarts[c];
  if (start != kNonAsciiStart) [[likely]] {
    if (c == ':' && is_key) return FlowStart::GiveUp;
    return static_cast<FlowStart>(start);
  }
  // A non-ASCII character starts the item unless the exact reader would trim it away; such
  // whitespace starts with C2 or E1 to E3.
  if (c != 0xC2 && static_cast<unsigned char>(c - 0xE1) > 2) return FlowStart::Plain;
  return whitespace_length_at(text.substr(at)) == 0 ? FlowStart::Plain : FlowStart::GiveUp;
}

// Position of the first byte at or after `from` that ends a plain item, or text.size(): a
// comma, bracket, quote, `#`, control byte or (for a key) colon. Inlined into the quick reader,
// whose loop then keeps the block constants in registers from item to item.
CORVANE_ALWAYS_INLINE inline std::size_t end_of_plain(std::string_view text, std::size_t from,
                                                      bool is_key) {
  const std::uint16_t stop = is_key ? chars::kStopsFlowKey : chars::kStopsFlowValue;
  std::size_t i = from;
  const std::size_t size = text.size();
  if constexpr (text::kVectorBlocks) {
    // Sixteen bytes at a time. With the 0x20 bit set, each of `[{`, `]}`, `"`, `'`, `,` and `#`
    // meets only itself and a control byte, and control bytes stop an item anyway.
    for (; i + 16 <= size; i += 16) {
      const text::Block block = text::Block::load(text.data() + i);
      const text::Block folded = block.with_bits(0x20);
      const text::Block stops = block.at_most(0x1F) | folded.equal('{') | folded.equal('}') |
                                folded.equal('"') | folded.equal('\'') | folded.equal(',') |
                                folded.equal('#') | block.equal('\x7F') |
                                block.equal(is_key ? ':' : '\x7F');
      if (const std::uint32_t hits = stops.mask()) {
        return i + static_cast<std::size_t>(std::countr_zero(hits));
      }
    }
  }
  for (; i + 4 <= size; i += 4) {
    if (chars::is(text[i], stop)) return i;
    if (chars::is(text[i + 1], stop)) return i + 1;
    if (chars::is(text[i + 2], stop)) return i + 2;
    if (chars::is(text[i + 3], stop)) return i + 3;
  }
  while (i < size && !chars::is(text[i], stop)) ++i;
  return i;
}

// The quick reader: the value of `text` (which starts with its opening bracket), or nothing
// when the text is not of the shape it reads, in which case the exact reader must run.
template <ValueSink Sink>
std::optional<typename Sink::Value> parse_flow_quick(std::string_view text, std::uint64_t line,
                                                     Sink& sink) {
  using Value = typename Sink::Value;
  struct Level {
    typename Sink::Map map;
    typename Sink::Seq seq;
    std::optional<Value> key;  // a mapping's key whose value is the nested collection
    char close;                // ']' or '}'
  };
  const std::size_t size = text.size();
  auto skip_spaces = [&](std::size_t i) {
    while (i < size && text[i] == ' ') ++i;
    return i;
  };
  // The value of the scalar item (or key) opening at text[at], which is not a nested
  // collection; `at` moves past it. The scalar goes straight to the sink, without moves.
  // Inlined: a call per item shows in the time of long flow lines.
  // clang-format off
  auto read_scalar = [&] CORVANE_ALWAYS_INLINE (FlowStart start, std::size_t& at,
                                                 bool is_key) -> std::optional<Value> {
    // clang-format on
    auto to_value = [&](Scalar&& scalar) {
      return is_key ? sink.make_key(std::move(scalar)) : sink.make_value(std::move(scalar));
    };
    if (start == FlowStart::Plain) {
      const std::size_t end = end_of_plain(text, at + 1, is_key);
      std::string_view item = trim_end(text.substr(at, end - at));
      if (is_key && item == "<<") return std::nullopt;  // a merge key: refused by the exact reader
      at = end;
      note_if_plain(sink, item);
      return to_value(std::move(*infer_kind<Sink::yaml_1_1_bools>(item)));
    }
    if (start == FlowStart::DoubleQuoted) {
      std::size_t close = 0;
      std::optional<Scalar> read = read_double_quoted(text.substr(at), close);
      if (!read) return std::nullopt;
      at += close + 1;
      return to_value(std::move(*read));
    }
    bool marked = false;
    const std::size_t span = find_closing_quote(text.substr(at), marked);
    if (span == std::string_view::npos) return std::nullopt;
    const std::size_t close = at + span;
    std::string_view content = text.substr(at + 1, close - at - 1);
    at = close + 1;
    if (!marked) return to_value(Scalar::view(content));
    return to_value(unfold_single_quoted(content));
  };

  LevelStack<Level> levels;
  auto open_level = [&](char bracket) {
    if (bracket == '{') {
      levels.push_back(Level{sink.new_map(), typename Sink::Seq{}, std::nullopt, '}'});
      sink.report_line(levels.back().map, line);
    } else {
      levels.push_back(Level{typename Sink::Map{}, sink.new_seq(), std::nullopt, ']'});
      sink.report_line(levels.back().seq, line);
    }
  };

  open_level(text[0]);
  std::size_t i = 1;
  // Right after an opening bracket its closing bracket may follow; after an entry a comma or
  // the closing bracket must; after a comma another entry must.
  bool may_close = true;
  bool after_entry = false;
  for (;;) {
    i = skip_spaces(i);
    if (i == size) return std::nullopt;
    Level& level = levels.back();
    if (after_entry || may_close) {
      const char c = text[i];
      if (c == level.close) {
        ++i;
        Value finished =
            level.close == '}' ? Value(std::move(level.map)) : Value(std::move(level.seq));
        levels.pop_back();
        if (levels.empty()) {
          // Only spaces or a comment may follow, as the exact reader allows.
          i = skip_spaces(i);
          if (i != size && text[i] != '#') return std::nullopt;
          return finished;
        }
        Level& parent = levels.back();
        if (parent.close == '}') {
          sink.map_insert(parent.map, std::move(*parent.key), std::move(finished));
          parent.key.reset();
        } else {
          sink.seq_push(parent.seq, std::move(finished));
        }
        after_entry = true;
        may_close = false;
        continue;
      }
      if (after_entry) {
        if (c != ',') return std::nullopt;
        ++i;
        after_entry = false;
        continue;
      }
      may_close = false;
    }

    std::optional<Value> key;
    if (level.close == '}') {
      const FlowStart key_start = flow_item_start(text, i, true);
      if (key_start == FlowStart::Nested || key_start == FlowStart::GiveUp) return std::nullopt;
      key = read_scalar(key_start, i, true);
      if (!key) return std::nullopt;
      i = skip_spaces(i);
      if (i == size || text[i] != ':') return std::nullopt;
      if constexpr (Sink::strict) {
        if (sink.map_has_key(level.map, *key)) return std::nullopt;
      }
      i = skip_spaces(i + 1);
      if (i == size) return std::nullopt;
    }

    const FlowStart start = flow_item_start(text, i, false);
    if (start == FlowStart::GiveUp) return std::nullopt;
    if (start == FlowStart::Nested) {
      level.key = std::move(key);
      // `level` is not used past this point: the push may move it.
      open_level(text[i]);
      ++i;
      may_close = true;
      continue;
    }
    auto value = read_scalar(start, i, false);
    if (!value) return std::nullopt;
    if (level.close == '}') {
      sink.map_insert(level.map, std::move(*key), std::move(*value));
    } else {
      sink.seq_push(level.seq, std::move(*value));
    }
    after_entry = true;
  }
}

// The exact reader, for a text that starts with its opening bracket.
template <ValueSink Sink>
Result<typename Sink::Value> parse_flow_exact(std::string_view text, std::uint64_t line,
                                              Sink& sink) {
  using Value = typename Sink::Value;
  FlowOutline outline(text, line);
  auto outer_close = outline.strip_brackets();
  if (!outer_close) return unexpected(std::move(outer_close.error()));
  if (auto rest = outline.check_rest(*outer_close + 1, text.size()); !rest) {
    return unexpected(std::move(rest.error()));
  }

  // One open collection; `position` is where its next entry starts (whitespace skipped) and
  // `end` the position of its closing bracket.
  struct Level {
    bool is_map;
    typename Sink::Map map;
    typename Sink::Seq seq;
    std::optional<Value> key;  // a mapping's key whose value is the nested collection
    std::size_t position;
    std::size_t end;
    std::size_t ordinal;
  };
  auto open_level = [&](std::size_t open, std::size_t close, std::size_t ordinal) {
    const bool is_map = text[open] == '{';
    Level level{is_map,
                is_map ? sink.new_map() : typename Sink::Map{},
                is_map ? typename Sink::Seq{} : sink.new_seq(),
                std::nullopt,
                outline.skip_whitespace(open + 1, close),
                close,
                ordinal};
    if (is_map) {
      sink.report_line(level.map, line);
    } else {
      sink.report_line(level.seq, line);
    }
    return level;
  };
  // After an entry that ended at `token_end`: step over the comma and the whitespace after it.
  auto advance = [&](Level& level, std::size_t token_end) {
    std::size_t p = outline.skip_whitespace(token_end, level.end);
    level.position =
        (p < level.end && text[p] == ',') ? outline.skip_whitespace(p + 1, level.end) : level.end;
  };

  LevelStack<Level> levels;
  levels.push_back(open_level(0, *outer_close, 0));
  for (;;) {
    Level& level = levels.back();
    if (level.position >= level.end) {
      Value finished = level.is_map ? Value(std::move(level.map)) : Value(std::move(level.seq));
      levels.pop_back();
      if (levels.empty()) return finished;
      Level& parent = levels.back();
      if (parent.is_map) {
        sink.map_insert(parent.map, std::move(*parent.key), std::move(finished));
        parent.key.reset();
      } else {
        sink.seq_push(parent.seq, std::move(finished));
      }
      continue;
    }

    std::size_t start = level.position;
    std::optional<Value> key;
    if (level.is_map) {
      auto colon = outline.split_at_colon(start, level.end, level.ordinal);
      if (!colon) return unexpected(std::move(colon.error()));
      std::string_view key_text = outline.trimmed(start, *colon);
      if (key_text == "<<") return unsupported(line, kMergeKeyMessage);
      auto key_scalar = classify_scalar<Sink::yaml_1_1_bools>(key_text, line);
      if (!key_scalar) return unexpected(std::move(key_scalar.error()));
      note_if_plain(sink, key_text);
      key = sink.make_key(std::move(*key_scalar));
      if constexpr (Sink::strict) {
        if (sink.map_has_key(level.map, *key)) {
          return syntax_error(line, "Duplicate key in flow map: " + sink.describe_key(*key));
        }
      }
      start = outline.skip_whitespace(*colon + 1, level.end);
    }

    const std::size_t first_nested = level.ordinal;
    const std::size_t token_end = outline.next_token(start, level.end, level.ordinal);
    std::string_view item = outline.trimmed(start, token_end);
    if (opens_flow(item)) {
      const std::size_t item_end = start + item.size();
      auto close = outline.check_nested(start, first_nested, item_end);
      if (!close) return unexpected(std::move(close.error()));
      advance(level, token_end);
      level.key = std::move(key);
      // `level` is not used past this point: the push may move it.
      levels.push_back(open_level(start, *close, first_nested + 1));
      continue;
    }
    auto scalar = classify_scalar<Sink::yaml_1_1_bools>(item, line);
    if (!scalar) return unexpected(std::move(scalar.error()));
    note_if_plain(sink, item);
    if (level.is_map) {
      sink.map_insert(level.map, std::move(*key), sink.make_value(std::move(*scalar)));
    } else {
      sink.seq_push(level.seq, sink.make_value(std::move(*scalar)));
    }
    advance(level, token_end);
  }
}

template <ValueSink Sink>
Result<typename Sink::Value> parse_flow(std::string_view text, std::uint64_t line, Sink& sink) {
  text = trim_start(text);
  if (!opens_flow(text)) return syntax_error(line, "Expected '[' or '{' to start flow collection");
  if constexpr (uses_flow_quick_reader<Sink>()) {
    if (auto value = parse_flow_quick(text, line, sink)) return std::move(*value);
  }
  return parse_flow_exact(text, line, sink);
}

}  // namespace corvane
