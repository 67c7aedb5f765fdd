// The line index of a loaded document: one record per value (its parent, its line, its kind
// and, for a mapping entry, its key), made while the parse runs and built once it ends into the
// children of every container in document order and a hash index from (mapping, key) to the
// entry kept under that key. Keys belong to the caller: the index holds an id for each and asks
// the caller for their hashes and whether two are equal, so it knows nothing of what a key is.
#pragma once

#include "error/error.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace corvane {

// No record; also the parent of the root. Records are numbered below it.
inline constexpr std::uint32_t kNoNode = 0xFFFFFFFF;

// A mapping key, numbered 0, 1, ... in the order the entries were attached; the caller keeps
// its key objects by these ids.
using KeyId = std::uint32_t;
inline constexpr KeyId kNoKey = 0xFFFFFFFF;  // the root's and a sequence item's

// Thrown for a document whose values or lines do not fit the 32-bit fields of a record.
inline constexpr CapacityExceeded kTooManyLines{
    "load_with_lines() keeps lines and values in 32-bit numbers; this document has more than "
    "4294967294 of one of them"};

enum class NodeKind : std::uint8_t { Scalar, Map, Seq };

// One record per value, made while the parse runs. A container's record is made when the
// container opens (its children name it as their parent) and completed when it is attached; a
// scalar's record is made when it is attached. So a parent's record always comes before its
// children's.
class LineRecords {
 public:
  std::uint32_t open(NodeKind kind) {
    check_room();
    records_.push_back(Record{kNoKey, kNoNode, 0});
    kinds_.push_back(static_cast<std::uint8_t>(kind));
    return static_cast<std::uint32_t>(records_.size() - 1);
  }

  // `node` (a container's record, or kNoNode for a scalar) becomes an item of the sequence
  // `parent` (kNoNode for the root) on `line`.
  void attach_item(std::uint32_t node, std::uint32_t parent, std::uint64_t line) {
    complete(node, Record{kNoKey, parent, checked_line(line)});
  }

  // `node` becomes the entry of the mapping `parent` on `line` under a new key; returns the
  // key's id. (There are fewer keys than records, so the ids fit.)
  KeyId attach_entry(std::uint32_t node, std::uint32_t parent, std::uint64_t line) {
    complete(node, Record{next_key_, parent, checked_line(line)});
    return next_key_++;
  }

 private:
  friend class LineIndex;
  struct Record {
    KeyId key;
    std::uint32_t parent;
    std::uint32_t line;
  };

  static std::uint32_t checked_line(std::uint64_t line) {
    if (line > std::numeric_limits<std::uint32_t>::max()) throw kTooManyLines;
    return static_cast<std::uint32_t>(line);
  }
  void check_room() const {
    if (records_.size() >= kNoNode - 1) throw kTooManyLines;
  }
  void complete(std::uint32_t node, const Record& record) {
    if (node == kNoNode) node = open(NodeKind::Scalar);
    records_[node] = record;
  }

  std::vector<Record> records_;
  std::vector<std::uint8_t> kinds_;  // NodeKind, then the flags LineIndex sets while building
  KeyId next_key_ = 0;
};

// The caller's keys as the build sees them: a reference to an object with `hash(KeyId)`, giving
// a std::uint64_t, and `equal(KeyId, KeyId)`, which must outlive this. Equal keys have equal
// hashes. The keys of one document hash and compare without failing; a failure throws.
class KeyFunctions {
 public:
  template <class Keys>
  explicit KeyFunctions(const Keys& keys)
      : keys_(&keys),
        hash_([](const void* context, KeyId key) -> std::uint64_t {
          return static_cast<const Keys*>(context)->hash(key);
        }),
        equal_([](const void* context, KeyId a, KeyId b) -> bool {
          return static_cast<const Keys*>(context)->equal(a, b);
        }) {}
  std::uint64_t hash(KeyId key) const { return hash_(keys_, key); }
  bool equal(KeyId a, KeyId b) const { return equal_(keys_, a, b); }

 private:
  const void* keys_;
  std::uint64_t (*hash_)(const void*, KeyId);
  bool (*equal_)(const void*, KeyId, KeyId);
};

// How a key held in the index compares with the key looked up; the caller's comparison may
// fail (a Python comparison can raise).
enum class KeyMatch : std::uint8_t { Different, Equal, Failed };

// Where looking up a child ended: its record, kNoNode when there is none, or a key comparison
// that failed.
struct ChildLookup {
  std::uint32_t node = kNoNode;
  bool comparison_failed = false;
};

struct BuiltLineIndex;

// The finished, read-only index: the records, the children of every container in document
// order, and a hash index from (mapping, key) to the child kept under that key.
class LineIndex {
 public:
  // Indexes the records of a parse whose root value has record `root` (kNoNode for a scalar
  // root) and starts on `root_line`. Keys repeated in a mapping resolve as a dict resolves
  // them: the last value stays, under the first key, at the first position. Records of values
  // that were built and then dropped (and their keys) are left out.
  static BuiltLineIndex build(LineRecords&& records, std::uint32_t root, std::uint64_t root_line,
                              KeyFunctions keys);

  std::size_t size() const { return size_; }
  // Bytes held: the records and the index.
  std::size_t footprint() const {
    return sizeof(LineIndex) + records_.records_.capacity() * sizeof(LineRecords::Record) +
           records_.kinds_.capacity() +
           (slots_.capacity() + child_start_.capacity() + children_.capacity()) *
               sizeof(std::uint32_t);
  }
  std::uint32_t root() const { return root_; }
  std::uint64_t line(std::uint32_t node) const { return records_.records_[node].line; }
  NodeKind kind(std::uint32_t node) const {
    return static_cast<NodeKind>(records_.kinds_[node] & kKindMask);
  }
  // The key `node` is kept under in its mapping; kNoKey for the root and sequence items.
  KeyId key(std::uint32_t node) const { return records_.records_[node].key; }

  // The children of `node` in document order (a mapping's at the first position of their key):
  // child_at(i) for i in [children_begin, children_end).
  std::uint32_t children_begin(std::uint32_t node) const { return child_start_[node]; }
  std::uint32_t children_end(std::uint32_t node) const { return child_start_[node + 1]; }
  std::uint32_t child_at(std::uint32_t index) const { return children_[index]; }

  // The item at `index` of the sequence `node`; kNoNode when `node` is no sequence or has no
  // such item.
  std::uint32_t item(std::uint32_t node, std::size_t index) const {
    if (kind(node) != NodeKind::Seq) return kNoNode;
    const std::uint32_t begin = children_begin(node);
    if (index >= children_end(node) - begin) return kNoNode;
    return children_[begin + index];
  }

  // The entry of the mapping `node` under a key whose hash is `key_hash` and for whose held
  // key `matches(KeyId)` gives KeyMatch::Equal.
  template <class Matches>
  ChildLookup entry(std::uint32_t node, std::uint64_t key_hash, Matches&& matches) const {
    if (kind(node) != NodeKind::Map) return {};
    for (std::size_t slot = slot_of(key_hash, node);; slot = (slot + 1) & (slots_.size() - 1)) {
      const std::uint32_t held = slots_[slot];
      if (held == kNoNode) return {};
      const LineRecords::Record& record = records_.records_[held];
      if (record.parent != node) continue;
      switch (matches(record.key)) {
        case KeyMatch::Different: break;
        case KeyMatch::Equal: return {held, false};
        case KeyMatch::Failed: return {kNoNode, true};
      }
    }
  }

 private:
  static LineIndex indexed(LineRecords&& records, std::uint32_t root, std::uint64_t root_line,
                           KeyFunctions keys);
  LineRecords compacted();
  std::vector<KeyId> renumber_keys();
  // Keys of one mapping differ by hash; the same key under many mappings differs by parent.
  std::size_t slot_of(std::uint64_t key_hash, std::uint32_t parent) const {
    std::uint64_t mixed =
        (key_hash ^ (std::uint64_t{parent} << 32 | parent)) * 0x9E3779B97F4A7C15ULL;
    mixed ^= mixed >> 29;
    return static_cast<std::size_t>(mixed) & (slots_.size() - 1);
  }
  std::size_t find_slot(std::uint32_t parent, KeyId key, std::uint64_t key_hash,
                        KeyFunctions keys) const;

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

// The index, and which of the caller's keys it holds. When build left out records, the keys it
// still holds are renumbered 0, 1, ... in the order of their records, with `kept_keys[id]` the
// id the key had: the caller keeps its key objects in that order and drops the others, which
// belonged to values that were dropped or replaced. Otherwise every key keeps its id.
struct BuiltLineIndex {
  LineIndex index;
  std::optional<std::vector<KeyId>> kept_keys;
};

}  // namespace corvane
