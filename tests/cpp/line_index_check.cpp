// Checks the line index (lines/index.hpp) on its own, with integer keys whose hashes collide on
// purpose: each document below is recorded as the parser's sink records one (containers open
// before their entries, values attached once complete, some built and then dropped), and the
// built index must give back the expected paths in document order, each with its line, by
// walking and by looking up. Then the edges: a failing key comparison and lines beyond 32 bits.
// Usage: line_index_check; prints every mismatch, exits 1 on one.
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "lines/index.hpp"

namespace {

using corvane::ChildLookup;
using corvane::KeyId;
using corvane::KeyMatch;
using corvane::kNoNode;
using corvane::LineIndex;
using corvane::LineRecords;
using corvane::NodeKind;

int failures = 0;

void expect(bool holds, const std::string& what) {
  if (holds) return;
  ++failures;
  std::printf("FAIL %s\n", what.c_str());
}

// Keys equal by their last two digits, as 1, 1.0 and True are equal keys in Python: 101 is key 1
// written another way. Keys 1, 4 and 7 (and 2 and 5) share a hash.
bool same_key(int a, int b) {
  return a % 100 == b % 100;
}
std::uint64_t hash_of(int key) {
  return static_cast<std::uint64_t>(key % 100 % 3);
}

// The keys of a document, by id, as the index's build sees them.
struct IntKeys {
  const std::vector<int>& keys;
  std::uint64_t hash(KeyId key) const { return hash_of(keys[key]); }
  bool equal(KeyId a, KeyId b) const { return same_key(keys[a], keys[b]); }
};

// A value as a document holds it: a scalar or a container, with its entries in document order.
// An entry marked dropped is built and never attached, as a flow collection read a second time.
struct Value;
struct Entry {
  int key;  // ignored in a sequence
  std::uint64_t line;
  std::vector<Value> value;  // one value
  bool dropped = false;
};
struct Value {
  NodeKind kind = NodeKind::Scalar;
  std::vector<Entry> entries;
};

Entry at(int key, std::uint64_t line, Value value = {}) {
  return {key, line, {std::move(value)}};
}
Entry item(std::uint64_t line, Value value = {}) {
  return at(0, line, std::move(value));
}
Entry dropped(Value value) {
  return {0, 1, {std::move(value)}, true};
}
Value map(std::vector<Entry> entries) {
  return {NodeKind::Map, std::move(entries)};
}
Value seq(std::vector<Entry> entries) {
  return {NodeKind::Seq, std::move(entries)};
}

std::uint32_t record(const Value& value, LineRecords& records, std::vector<int>& keys) {
  const std::uint32_t node = value.kind == NodeKind::Scalar ? kNoNode : records.open(value.kind);
  for (const Entry& entry : value.entries) {
    const std::uint32_t child = record(entry.value.front(), records, keys);
    if (entry.dropped) continue;
    if (value.kind == NodeKind::Map) {
      const KeyId id = records.attach_entry(child, node, entry.line);
      expect(id == keys.size(), "key ids are given out in the order of the entries");
      keys.push_back(entry.key);
    } else {
      records.attach_item(child, node, entry.line);
    }
  }
  return node;
}

using Path = std::vector<int>;  // keys and indexes

struct Case {
  const char* name;
  Value root;
  std::uint64_t root_line;
  std::vector<std::pair<Path, std::uint64_t>> lines;  // every path, in document order
  std::vector<Path> missing;
};

// Mappings under one sequence, each with a key of its own and one they share: a look-up of one's
// key in another finds nothing, and the shared key stays in each, however their slots lie.
Case sibling_mappings() {
  Case test{"each mapping its own keys", seq({}), 1, {{{}, 1}}, {}};
  for (int i = 0; i < 12; ++i) {
    const auto line = static_cast<std::uint64_t>(i + 1);
    test.root.entries.push_back(item(line, map({at(i, line), at(50, line)})));
    test.lines.push_back({{i}, line});
    test.lines.push_back({{i, i}, line});
    test.lines.push_back({{i, 50}, line});
    for (int j = 0; j < 12; ++j) {
      if (j != i) test.missing.push_back({i, j});
    }
  }
  return test;
}

std::vector<Case> cases() {
  return {
      sibling_mappings(),
      {"scalar root", Value{}, 3, {{{}, 3}}, {{0}}},
      {"flat mapping", map({at(1, 1), at(2, 2)}), 1, {{{}, 1}, {{1}, 1}, {{2}, 2}}, {{3}, {1, 0}}},
      {"repeated keys: the last value, the first position",
       map({at(1, 1), at(2, 2, map({at(7, 3)})), at(1, 4), at(2, 5)}),
       1,
       {{{}, 1}, {{1}, 4}, {{2}, 5}},
       {{2, 7}}},
      {"a repeated key drops the old subtree",
       map({at(1, 1, map({at(5, 2)})), at(2, 3), at(1, 4, map({at(6, 5)}))}),
       1,
       {{{}, 1}, {{1}, 4}, {{1, 6}, 5}, {{2}, 3}},
       {{1, 5}}},
      {"a repeated key keeps its first key object",
       map({at(1, 1), at(2, 2), at(101, 3), at(201, 4)}),
       1,
       {{{}, 1}, {{1}, 4}, {{2}, 2}},
       {{3}}},
      {"distinct keys of one hash",
       map({at(1, 1), at(4, 2), at(7, 3), at(1, 4)}),
       1,
       {{{}, 1}, {{1}, 4}, {{4}, 2}, {{7}, 3}},
       {{10}}},
      {"one key under two mappings",
       map({at(1, 1, map({at(1, 2)})), at(2, 3, map({at(1, 4), at(4, 5)}))}),
       1,
       {{{}, 1}, {{1}, 1}, {{1, 1}, 2}, {{2}, 3}, {{2, 1}, 4}, {{2, 4}, 5}},
       {{1, 4}}},
      {"a value built and dropped before its second reading",
       seq({dropped(seq({item(1, map({at(1, 1)}))})), item(1, seq({item(1, map({at(1, 1)}))}))}),
       1,
       {{{}, 1}, {{0}, 1}, {{0, 0}, 1}, {{0, 0, 1}, 1}},
       {{1}, {0, 1}}},
      {"sequences",
       seq({item(2), item(3, seq({item(3), item(4)})), item(5, map({}))}),
       2,
       {{{}, 2}, {{0}, 2}, {{1}, 3}, {{1, 0}, 3}, {{1, 1}, 4}, {{2}, 5}},
       {{3}, {0, 0}, {2, 0}}},
  };
}

std::string text_of(const Path& path) {
  std::string text = "(";
  for (int component : path) text += std::to_string(component) + ",";
  return text + ")";
}

// `node` and everything below it in document order, depth first, as (path, line); counts the
// mapping entries.
void walk(const LineIndex& index, const std::vector<int>& keys, std::uint32_t node, Path& path,
          std::vector<std::pair<Path, std::uint64_t>>& out, std::size_t& entries) {
  out.emplace_back(path, index.line(node));
  for (std::uint32_t at = index.children_begin(node); at < index.children_end(node); ++at) {
    const std::uint32_t child = index.child_at(at);
    const bool entry = index.kind(node) == NodeKind::Map;
    entries += entry;
    path.push_back(entry ? keys[index.key(child)]
                         : static_cast<int>(at - index.children_begin(node)));
    walk(index, keys, child, path, out, entries);
    path.pop_back();
  }
}

std::uint32_t look_up(const LineIndex& index, const std::vector<int>& keys, const Path& path) {
  std::uint32_t node = index.root();
  for (int component : path) {
    if (node == kNoNode) break;
    if (index.kind(node) != NodeKind::Map) {
      node = index.item(node, static_cast<std::size_t>(component));
      continue;
    }
    const ChildLookup found = index.entry(node, hash_of(component), [&](KeyId key) {
      return same_key(keys[key], component) ? KeyMatch::Equal : KeyMatch::Different;
    });
    node = found.comparison_failed ? kNoNode : found.node;
  }
  return node;
}

void check(const Case& test) {
  const std::string name = test.name;
  LineRecords records;
  std::vector<int> keys;
  const std::uint32_t root = record(test.root, records, keys);
  const IntKeys functions{keys};
  corvane::BuiltLineIndex built =
      LineIndex::build(std::move(records), root, test.root_line, corvane::KeyFunctions(functions));
  const LineIndex& index = built.index;
  std::vector<int> kept = keys;
  if (built.kept_keys) {
    kept.clear();
    for (KeyId old : *built.kept_keys) kept.push_back(keys[old]);
  }

  std::vector<std::pair<Path, std::uint64_t>> walked;
  Path path;
  std::size_t entries = 0;
  walk(index, kept, index.root(), path, walked, entries);
  expect(walked == test.lines, name + ": the walk in document order");
  // Keys of dropped values are not kept.
  expect(kept.size() == entries, name + ": one key kept per entry");
  expect(index.size() == test.lines.size(), name + ": the size");
  for (const auto& [expected_path, line] : test.lines) {
    const std::uint32_t node = look_up(index, kept, expected_path);
    expect(node != kNoNode && index.line(node) == line,
           name + ": look-up of " + text_of(expected_path));
  }
  for (const Path& absent : test.missing) {
    expect(look_up(index, kept, absent) == kNoNode, name + ": no " + text_of(absent));
  }
}

void check_failed_comparison() {
  LineRecords records;
  const std::uint32_t root = records.open(NodeKind::Map);
  records.attach_entry(kNoNode, root, 1);
  const std::vector<int> keys{1};
  const IntKeys functions{keys};
  const LineIndex index =
      LineIndex::build(std::move(records), root, 1, corvane::KeyFunctions(functions)).index;
  const ChildLookup failed =
      index.entry(index.root(), hash_of(1), [](KeyId) { return KeyMatch::Failed; });
  expect(failed.comparison_failed && failed.node == kNoNode, "a failed comparison is reported");
  // A slot left empty ends the look-up before any comparison.
  const ChildLookup absent =
      index.entry(index.root(), hash_of(2), [](KeyId) { return KeyMatch::Failed; });
  expect(!absent.comparison_failed && absent.node == kNoNode, "an absent key compares nothing");
}

void check_line_limits() {
  const std::uint64_t last = 0xFFFFFFFF;
  for (const auto& [line, fits] : {std::pair{last, true}, std::pair{last + 1, false}}) {
    LineRecords records;
    bool thrown = false;
    try {
      records.attach_item(kNoNode, kNoNode, line);
    } catch (const corvane::CapacityExceeded&) {
      thrown = true;
    }
    expect(thrown != fits, "line " + std::to_string(line) + (fits ? " fits" : " is refused"));
  }
}

}  // namespace

int main() {
  for (const Case& test : cases()) check(test);
  check_failed_comparison();
  check_line_limits();
  std::printf("%s: %d failures\n", failures == 0 ? "ok" : "FAILED", failures);
  return failures == 0 ? 0 : 1;
}
