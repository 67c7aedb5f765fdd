// LineSink, the sink of `load_with_lines`: it builds the objects PyBuilder builds and records,
// for each value, its parent, its key and its line in the line index. It holds the key objects
// the index refers to by id.
#pragma once

#include "python/builder.hpp"
#include "python/errors.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lines/index.hpp"
#include "parser/scan/scan.hpp"
#include "python/line_table.hpp"
#include "scalar/scalar.hpp"

namespace corvane {

// A container under construction, with its record and the line of the entry being read into
// it (set by report_line; a flow collection's entries all stand on the collection's line).
struct LinedContainer {
  PyRef object;
  std::uint32_t node = kNoNode;
  std::uint64_t entry_line = 0;
};

// A finished value; a container keeps its record, a scalar has none until it is attached.
struct LinedValue {
  PyRef object;
  std::uint32_t node = kNoNode;

  LinedValue() = default;
  explicit LinedValue(PyRef made) : object(std::move(made)) {}
  // A finished container is a value, converted without a call.
  LinedValue(LinedContainer&& container)
      : object(std::move(container.object)), node(container.node) {}
};

// Builds what PyBuilder builds and records, for each value, its parent, its key and its line.
class LineBuilder {
 public:
  using Value = LinedValue;
  using Map = LinedContainer;
  using Seq = LinedContainer;

  LineBuilder(PyObject* input, std::string_view bytes) : objects_(input, bytes) {
    keys_.reserve(kFirstKeys);
  }

  Map new_map() { return Map{objects_.new_map(), records_.open(NodeKind::Map)}; }
  Seq new_seq() { return Seq{objects_.new_seq(), records_.open(NodeKind::Seq)}; }
  void map_insert(const Map& map, Value&& key, Value&& value) {
    records_.attach_entry(value.node, map.node, map.entry_line);
    keys_.push_back(PyRef::borrow(key.object.get()));
    objects_.map_insert(map.object, std::move(key.object), std::move(value.object));
  }
  void seq_push(const Seq& seq, Value&& value) {
    records_.attach_item(value.node, seq.node, seq.entry_line);
    objects_.seq_push(seq.object, std::move(value.object));
  }
  bool map_has_key(const Map& map, const Value& key) {
    return objects_.map_has_key(map.object, key.object);
  }
  Value null_value() { return Value(objects_.null_value()); }
  Value make_value(Scalar&& scalar) { return Value(objects_.make_value(std::move(scalar))); }
  Value make_key(Scalar&& scalar) { return Value(objects_.make_key(std::move(scalar))); }
  std::optional<Value> find_block_key(std::string_view source) {
    std::optional<PyRef> key = objects_.find_block_key(source);
    if (!key) return std::nullopt;
    return Value(std::move(*key));
  }
  Value make_block_key(Scalar&& scalar, std::string_view source) {
    return Value(objects_.make_block_key(std::move(scalar), source));
  }
  Value make_string_value(std::string text) {
    return Value(objects_.make_string_value(std::move(text)));
  }
  std::string describe_key(const Value& key) { return objects_.describe_key(key.object); }
  void report_line(LinedContainer& container, std::uint64_t line) { container.entry_line = line; }

  // The table of the parse whose root value has record `root` (kNoNode for a scalar root).
  LineTable take_table(std::uint32_t root) {
    return LineTable::build(std::move(records_), std::move(keys_), root,
                            first_content_line(objects_.text()));
  }

 private:
  PyBuilder objects_;
  LineRecords records_;
  // Room for the keys of a small document, so that it needs no reallocation.
  static constexpr std::size_t kFirstKeys = 64;
  std::vector<PyRef> keys_;  // by the key ids records_ gives out
};

template <bool Strict, bool Yaml11Bools>
class LineSink : public LineBuilder {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
  using LineBuilder::LineBuilder;
};

}  // namespace corvane
