// The lines of a loaded document: for every value, the line of the entry that holds it, found
// by the value's path of mapping keys and sequence indexes. Recorded as the parser builds the
// value (one small record per value), indexed once when the parse ends, and offered to Python
// as the object behind corvane.Lines.
#pragma once

#include "error/error.hpp"
#include "python/builder.hpp"
#include "python/errors.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

inline constexpr std::uint32_t kNoNode = 0xFFFFFFFF;

// Thrown for a document whose values or lines do not fit the 32-bit fields of a record.
inline constexpr CapacityExceeded kTooManyLines{
    "load_with_lines() keeps lines and values in 32-bit numbers; this document has more than "
    "4294967294 of one of them"};

// One record per value, made while the parse runs. A container's record is made when the
// container opens (its children name it as their parent) and completed when it is attached; a
// scalar's record is made when it is attached. So a parent's record always comes before its
// children's.
class LineRecords {
 public:
  enum class Kind : std::uint8_t { Scalar, Map, Seq };

  LineRecords() = default;
  LineRecords(LineRecords&& other) noexcept = default;
  LineRecords& operator=(LineRecords&& other) noexcept;
  LineRecords(const LineRecords&) = delete;
  LineRecords& operator=(const LineRecords&) = delete;
  ~LineRecords() { release(); }

  std::uint32_t open(Kind kind) {
    check_room();
    records_.push_back(Record{nullptr, kNoNode, 0});
    kinds_.push_back(static_cast<std::uint8_t>(kind));
    return static_cast<std::uint32_t>(records_.size() - 1);
  }

  // `node` (a container's record, or kNoNode for a scalar) becomes the child of `parent` under
  // `key` (a mapping key, borrowed; null in a sequence) on `line`.
  void attach(std::uint32_t node, std::uint32_t parent, PyObject* key, std::uint64_t line) {
    if (line > kNoNode) throw kTooManyLines;
    if (node == kNoNode) {
      check_room();
      node = static_cast<std::uint32_t>(records_.size());
      records_.push_back(Record{nullptr, kNoNode, 0});
      kinds_.push_back(static_cast<std::uint8_t>(Kind::Scalar));
    }
    Py_XINCREF(key);
    records_[node] = Record{key, parent, static_cast<std::uint32_t>(line)};
  }

 private:
  friend class LineTable;
  struct Record {
    PyObject* key;  // owned; null for the root and sequence items
    std::uint32_t parent;
    std::uint32_t line;
  };

  void check_room() const {
    if (records_.size() >= kNoNode - 1) throw kTooManyLines;
  }
  void release();

  std::vector<Record> records_;
  std::vector<std::uint8_t> kinds_;  // Kind, then the flags LineTable sets while indexing
};

// The finished, read-only table: the records, the live children of every container in
// document order, and a hash index from (mapping, key) to the child kept under that key.
class LineTable {
 public:
  // Indexes the records of a parse whose root value has record `root` (kNoNode for a scalar
  // root) and starts on `root_line`. Keys repeated in a mapping resolve as the mapping itself
  // resolved them: the last value stays, under the first key object, at the first position.
  static LineTable build(LineRecords&& records, std::uint32_t root, std::uint64_t root_line);

  std::size_t size() const { return size_; }
  // Bytes held: the records and the index.
  std::size_t footprint() const {
    return sizeof(LineTable) + records_.records_.capacity() * sizeof(LineRecords::Record) +
           records_.kinds_.capacity() +
           (slots_.capacity() + child_start_.capacity() + children_.capacity()) *
               sizeof(std::uint32_t);
  }
  std::uint32_t root() const { return root_; }
  std::uint64_t line(std::uint32_t node) const { return records_.records_[node].line; }

  // The child of `node` at `component` (a key or an index), kNoNode when there is none, or
  // nothing when comparing keys raised a Python error.
  std::optional<std::uint32_t> child(std::uint32_t node, PyObject* component) const;

  // For walking the table in document order: the children of `node`, and the path component
  // of its `position`th child (a new reference).
  std::uint32_t children_begin(std::uint32_t node) const { return child_start_[node]; }
  std::uint32_t children_end(std::uint32_t node) const { return child_start_[node + 1]; }
  std::uint32_t child_at(std::uint32_t index) const { return children_[index]; }
  PyObject* component(std::uint32_t parent, std::uint32_t index) const;

 private:
  using Kind = LineRecords::Kind;
  Kind kind(std::uint32_t node) const {
    return static_cast<Kind>(records_.kinds_[node] & kKindMask);
  }
  LineTable compacted(std::uint64_t root_line);
  std::size_t slot_of(Py_hash_t hash, std::uint32_t parent) const;
  std::uint32_t find_slot(std::uint32_t parent, PyObject* key, Py_hash_t hash) const;

  static constexpr std::uint8_t kKindMask = 0x3;
  static constexpr std::uint8_t kReplaced = 0x4;  // a later entry under an equal key won
  static constexpr std::uint8_t kFirst = 0x8;     // the first entry under its key
  static constexpr std::uint8_t kReachable = 0x10;

  LineRecords records_;
  std::vector<std::uint32_t> slots_;        // kept child of a mapping entry, or kNoNode
  std::vector<std::uint32_t> child_start_;  // per record, into children_; one more at the end
  std::vector<std::uint32_t> children_;
  std::uint32_t root_ = kNoNode;
  std::size_t size_ = 0;
};

// The Python object that owns a table (type corvane._native.LineTable).
PyObject* wrap_line_table(LineTable&& table);

}  // namespace corvane
