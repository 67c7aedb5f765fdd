// The interface through which the parser builds every value. The parser is generic over it,
// so the grammar code knows nothing of the objects it produces.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scalar/scalar.hpp"

namespace corvane {

// A sink has three handle types: Value (a finished value), Map and Seq (containers under
// construction). A finished container is itself a value: it converts to Value without a call.
// Operations that take a Value consume it. The two load flags are compile-time constants of
// the sink type, so each combination gets its own parser.
template <class S>
concept ValueSink =
    requires(S sink, typename S::Value value, typename S::Map& map, typename S::Seq& seq,
             Scalar scalar, std::string text, std::string_view view, std::uint64_t line) {
      { S::strict } -> std::convertible_to<bool>;
      { S::yaml_1_1_bools } -> std::convertible_to<bool>;
      requires std::movable<typename S::Value>;
      requires std::default_initializable<typename S::Map>;
      requires std::default_initializable<typename S::Seq>;
      requires std::convertible_to<typename S::Map&&, typename S::Value>;
      requires std::convertible_to<typename S::Seq&&, typename S::Value>;
      { sink.new_map() } -> std::same_as<typename S::Map>;
      { sink.new_seq() } -> std::same_as<typename S::Seq>;
      sink.map_insert(map, std::move(value), std::move(value));
      sink.seq_push(seq, std::move(value));
      { sink.map_has_key(map, value) } -> std::same_as<bool>;
      { sink.null_value() } -> std::same_as<typename S::Value>;
      { sink.make_value(std::move(scalar)) } -> std::same_as<typename S::Value>;
      // A mapping key: as make_value, but the sink may hand out one shared object for keys that
      // repeat, which configuration files do all the time.
      { sink.make_key(std::move(scalar)) } -> std::same_as<typename S::Value>;
      // A block mapping key typed from `source`, its text before the colon. The sink may keep
      // the key and hand it out again through find_block_key for the same source text, which
      // saves typing a key that repeats; a sink that keeps nothing always finds nothing.
      { sink.make_block_key(std::move(scalar), view) } -> std::same_as<typename S::Value>;
      { sink.find_block_key(view) } -> std::same_as<std::optional<typename S::Value>>;
      { sink.make_string_value(std::move(text)) } -> std::same_as<typename S::Value>;
      // How a key is shown in a duplicate-key message.
      { sink.describe_key(value) } -> std::same_as<std::string>;
      // Where entries begin: the next entry of `map` (its key) or item of `seq` (its dash) starts
      // on `line`; every entry of a flow collection is on the collection's line. Reported after
      // the container has taken any value still owed to its previous entry. A sink that keeps
      // no lines does nothing here.
      sink.report_line(map, line);
      sink.report_line(seq, line);
    };

// A sink that declares `void note_plain_source(std::string_view text)` is told the text of every
// scalar written plain, right before the parser makes its value or key with make_value or
// make_key (a block key's text comes with make_block_key). No other sink pays for it.
template <class Sink>
concept NotesPlainSources =
    requires(Sink& sink, std::string_view text) { sink.note_plain_source(text); };

// Tells such a sink the text of the scalar that `text` (a value, flow item or key as it stands)
// holds, when it is written plain.
template <class Sink>
CORVANE_ALWAYS_INLINE inline void note_if_plain(Sink& sink, std::string_view text) {
  if constexpr (NotesPlainSources<Sink>) {
    if (std::optional<std::string_view> plain = plain_source(text)) sink.note_plain_source(*plain);
  }
}

}  // namespace corvane
