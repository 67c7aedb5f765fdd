// Building the line index: the kept entry of every (mapping, key), the children of every
// container, and the compaction that leaves out the records of dropped values.
#include "lines/index.hpp"

#include <algorithm>
#include <bit>
#include <utility>

namespace corvane {

// The slot that holds the entry of `parent` under a key equal to `key` (whose hash is
// `key_hash`), or the empty slot where it would go.
std::size_t LineIndex::find_slot(std::uint32_t parent, KeyId key, std::uint64_t key_hash,
                                 KeyFunctions keys) const {
  for (std::size_t slot = slot_of(key_hash, parent);; slot = (slot + 1) & (slots_.size() - 1)) {
    const std::uint32_t held = slots_[slot];
    if (held == kNoNode) return slot;
    const LineRecords::Record& record = records_.records_[held];
    if (record.parent == parent && keys.equal(record.key, key)) return slot;
  }
}

BuiltLineIndex LineIndex::build(LineRecords&& records, std::uint32_t root, std::uint64_t root_line,
                                KeyFunctions keys) {
  LineIndex index = indexed(std::move(records), root, root_line, keys);
  if (index.size_ == index.records_.records_.size()) return BuiltLineIndex{std::move(index), {}};
  index = indexed(index.compacted(), 0, root_line, keys);
  std::vector<KeyId> kept_keys = index.renumber_keys();
  return BuiltLineIndex{std::move(index), std::move(kept_keys)};
}

LineIndex LineIndex::indexed(LineRecords&& records, std::uint32_t root, std::uint64_t root_line,
                             KeyFunctions keys) {
  LineIndex index;
  index.records_ = std::move(records);
  auto& nodes = index.records_.records_;
  auto& flags = index.records_.kinds_;
  if (root == kNoNode) root = index.records_.open(NodeKind::Scalar);
  index.records_.attach_item(root, kNoNode, root_line);
  index.root_ = root;
  const auto count = static_cast<std::uint32_t>(nodes.size());
  auto is_map = [&](std::uint32_t node) {
    return node != kNoNode && index.kind(node) == NodeKind::Map;
  };

  // Mapping entries, in document order. An entry whose key is already there replaces the kept
  // entry; it takes over the first key, which is the one the mapping kept.
  std::size_t entries = 0;
  for (std::uint32_t node = 0; node < count; ++node) entries += is_map(nodes[node].parent);
  index.slots_.assign(std::bit_ceil(std::max<std::size_t>(8, entries * 2)), kNoNode);
  for (std::uint32_t node = 0; node < count; ++node) {
    if (!is_map(nodes[node].parent)) continue;
    const KeyId key = nodes[node].key;
    std::uint32_t& kept =
        index.slots_[index.find_slot(nodes[node].parent, key, keys.hash(key), keys)];
    if (kept == kNoNode) {
      flags[node] |= kFirst;
    } else {
      flags[kept] |= kReplaced;
      std::swap(nodes[kept].key, nodes[node].key);
    }
    kept = node;
  }

  // What the value still holds: the root, and every entry of a held container that was not
  // replaced (a parent's record comes before its children's). Records of values that were
  // built and then dropped have no held parent.
  flags[root] |= kReachable;
  std::vector<std::uint32_t> counts(count + 1, 0);
  for (std::uint32_t node = 0; node < count; ++node) {
    const std::uint32_t parent = nodes[node].parent;
    if (node == root || parent == kNoNode || !(flags[parent] & kReachable)) continue;
    if (!(flags[node] & kReplaced)) flags[node] |= kReachable;
    // A mapping lists its keys at their first position.
    if (!is_map(parent) || (flags[node] & kFirst)) ++counts[parent];
  }
  index.child_start_.assign(count + 1, 0);
  std::uint32_t total = 0;
  for (std::uint32_t node = 0; node < count; ++node) {
    index.child_start_[node] = total;
    total += counts[node];
    index.size_ += (flags[node] & kReachable) != 0;
  }
  index.child_start_[count] = total;
  index.children_.resize(total);
  std::vector<std::uint32_t>& next = counts;
  std::copy(index.child_start_.begin(), index.child_start_.end() - 1, next.begin());
  for (std::uint32_t node = 0; node < count; ++node) {
    const std::uint32_t parent = nodes[node].parent;
    if (node == root || parent == kNoNode || !(flags[parent] & kReachable)) continue;
    std::uint32_t listed = node;
    if (is_map(parent)) {
      if (!(flags[node] & kFirst)) continue;
      if (flags[node] & kReplaced) {
        const KeyId key = nodes[node].key;
        listed = index.slots_[index.find_slot(parent, key, keys.hash(key), keys)];
      }
    }
    index.children_[next[parent]++] = listed;
  }
  return index;
}

// Values that were built and then dropped (a repeated key's earlier values, a flow collection
// read again by the exact reader) leave records the value does not hold: the held ones, in
// document order, to be indexed again. Keys keep their ids until the index is complete.
LineRecords LineIndex::compacted() {
  const auto& nodes = records_.records_;
  LineRecords kept;
  kept.records_.reserve(size_);
  kept.kinds_.reserve(size_);
  std::vector<std::uint32_t> new_id(nodes.size(), kNoNode);
  std::vector<std::uint32_t> pending{root_};
  while (!pending.empty()) {
    const std::uint32_t node = pending.back();
    pending.pop_back();
    new_id[node] = static_cast<std::uint32_t>(kept.records_.size());
    const std::uint32_t parent = nodes[node].parent;
    kept.records_.push_back(LineRecords::Record{
        nodes[node].key, parent == kNoNode ? kNoNode : new_id[parent], nodes[node].line});
    kept.kinds_.push_back(static_cast<std::uint8_t>(kind(node)));
    for (std::uint32_t index = children_end(node); index > children_begin(node); --index) {
      pending.push_back(children_[index - 1]);
    }
  }
  return kept;
}

std::vector<KeyId> LineIndex::renumber_keys() {
  std::vector<KeyId> kept_keys;
  for (LineRecords::Record& record : records_.records_) {
    if (record.key == kNoKey) continue;
    kept_keys.push_back(record.key);
    record.key = static_cast<KeyId>(kept_keys.size() - 1);
  }
  records_.next_key_ = static_cast<KeyId>(kept_keys.size());
  return kept_keys;
}

}  // namespace corvane
