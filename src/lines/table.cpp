// Indexing and look-up of the lines of a document, and the Python types that offer them.
#include "lines/table.hpp"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <utility>

namespace corvane {

LineRecords& LineRecords::operator=(LineRecords&& other) noexcept {
  if (this != &other) {
    release();
    records_ = std::move(other.records_);
    kinds_ = std::move(other.kinds_);
  }
  return *this;
}

void LineRecords::release() {
  for (const Record& record : records_) Py_XDECREF(record.key);
  records_.clear();
}

// Keys of one mapping differ by hash; the same key under many mappings differs by parent.
std::size_t LineTable::slot_of(Py_hash_t hash, std::uint32_t parent) const {
  std::uint64_t mixed =
      (static_cast<std::uint64_t>(hash) ^ (std::uint64_t{parent} << 32 | parent)) *
      0x9E3779B97F4A7C15ULL;
  mixed ^= mixed >> 29;
  return static_cast<std::size_t>(mixed) & (slots_.size() - 1);
}

// The slot that holds `key` under `parent`, or the empty slot where it would go. Keys are the
// document's scalars, whose comparison cannot fail.
std::uint32_t LineTable::find_slot(std::uint32_t parent, PyObject* key, Py_hash_t hash) const {
  std::size_t slot = slot_of(hash, parent);
  for (;;) {
    const std::uint32_t held = slots_[slot];
    if (held == kNoNode) return static_cast<std::uint32_t>(slot);
    const auto& record = records_.records_[held];
    if (record.parent == parent &&
        (record.key == key || PyObject_RichCompareBool(record.key, key, Py_EQ) == 1)) {
      return static_cast<std::uint32_t>(slot);
    }
    slot = (slot + 1) & (slots_.size() - 1);
  }
}

LineTable LineTable::build(LineRecords&& records, std::uint32_t root, std::uint64_t root_line) {
  LineTable table;
  table.records_ = std::move(records);
  auto& nodes = table.records_.records_;
  auto& flags = table.records_.kinds_;
  if (root == kNoNode) root = table.records_.open(Kind::Scalar);
  table.records_.attach(root, kNoNode, nullptr, root_line);
  table.root_ = root;
  const auto count = static_cast<std::uint32_t>(nodes.size());
  auto is_map = [&](std::uint32_t node) {
    return node != kNoNode && table.kind(node) == Kind::Map;
  };

  // Mapping entries, in document order. An entry whose key is already there replaces the kept
  // entry; it takes over the first key object, which is the one the mapping kept.
  std::size_t entries = 0;
  for (std::uint32_t node = 0; node < count; ++node) entries += is_map(nodes[node].parent);
  table.slots_.assign(std::bit_ceil(std::max<std::size_t>(8, entries * 2)), kNoNode);
  for (std::uint32_t node = 0; node < count; ++node) {
    if (!is_map(nodes[node].parent)) continue;
    const Py_hash_t hash = PyObject_Hash(nodes[node].key);
    const std::uint32_t slot = table.find_slot(nodes[node].parent, nodes[node].key, hash);
    std::uint32_t& kept = table.slots_[slot];
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
  table.child_start_.assign(count + 1, 0);
  std::uint32_t total = 0;
  for (std::uint32_t node = 0; node < count; ++node) {
    table.child_start_[node] = total;
    total += counts[node];
    table.size_ += (flags[node] & kReachable) != 0;
  }
  table.child_start_[count] = total;
  table.children_.resize(total);
  std::vector<std::uint32_t>& next = counts;
  std::copy(table.child_start_.begin(), table.child_start_.end() - 1, next.begin());
  for (std::uint32_t node = 0; node < count; ++node) {
    const std::uint32_t parent = nodes[node].parent;
    if (node == root || parent == kNoNode || !(flags[parent] & kReachable)) continue;
    std::uint32_t listed = node;
    if (is_map(parent)) {
      if (!(flags[node] & kFirst)) continue;
      if (flags[node] & kReplaced) {
        const auto& record = nodes[node];
        listed = table.slots_[table.find_slot(parent, record.key, PyObject_Hash(record.key))];
      }
    }
    table.children_[next[parent]++] = listed;
  }
  if (table.size_ < count) return table.compacted(root_line);
  return table;
}

// Values that were built and then dropped (a repeated key's earlier values, a flow collection
// read again by the exact reader) leave records the value does not hold: copy the held ones,
// in document order, and index them again.
LineTable LineTable::compacted(std::uint64_t root_line) {
  auto& nodes = records_.records_;
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
    kept.records_.push_back(LineRecords::Record{std::exchange(nodes[node].key, nullptr),
                                                parent == kNoNode ? kNoNode : new_id[parent],
                                                nodes[node].line});
    kept.kinds_.push_back(static_cast<std::uint8_t>(kind(node)));
    for (std::uint32_t index = children_end(node); index > children_begin(node); --index) {
      pending.push_back(children_[index - 1]);
    }
  }
  return build(std::move(kept), 0, root_line);
}

namespace {

// A sequence index given as an int (or anything an index converts from, or a float with an
// integral value, as a dict keyed by paths would match it); -1 when it is none.
Py_ssize_t index_of(PyObject* component) {
  if (PyFloat_Check(component)) {
    const double value = PyFloat_AsDouble(component);
    if (value >= 0 && value < 9.0e15 &&
        value == static_cast<double>(static_cast<Py_ssize_t>(value))) {
      return static_cast<Py_ssize_t>(value);
    }
    return -1;
  }
  if (!PyIndex_Check(component)) return -1;
  PyRef index = PyRef::steal(PyNumber_Index(component));
  const Py_ssize_t value = index ? PyLong_AsSsize_t(index.get()) : -1;
  if (PyErr_Occurred()) PyErr_Clear();
  return value;
}

}  // namespace

std::optional<std::uint32_t> LineTable::child(std::uint32_t node, PyObject* component) const {
  switch (kind(node)) {
    case Kind::Scalar: return kNoNode;
    case Kind::Seq: {
      const Py_ssize_t index = index_of(component);
      const std::uint32_t begin = children_begin(node);
      if (index < 0 || static_cast<std::size_t>(index) >= children_end(node) - begin)
        return kNoNode;
      return children_[begin + static_cast<std::size_t>(index)];
    }
    case Kind::Map: break;
  }
  const Py_hash_t hash = PyObject_Hash(component);
  if (hash == -1 && PyErr_Occurred()) return std::nullopt;
  std::size_t slot = slot_of(hash, node);
  for (;;) {
    const std::uint32_t held = slots_[slot];
    if (held == kNoNode) return kNoNode;
    const auto& record = records_.records_[held];
    if (record.parent == node) {
      if (record.key == component) return held;
      const int equal = PyObject_RichCompareBool(record.key, component, Py_EQ);
      if (equal < 0) return std::nullopt;
      if (equal == 1) return held;
    }
    slot = (slot + 1) & (slots_.size() - 1);
  }
}

PyObject* LineTable::component(std::uint32_t parent, std::uint32_t index) const {
  if (kind(parent) == Kind::Seq) return PyLong_FromSize_t(index - children_begin(parent));
  PyObject* key = records_.records_[children_[index]].key;
  Py_INCREF(key);
  return key;
}

namespace {

struct LineTableObject {
  PyObject_HEAD LineTable* table;
};

// A walk through the table in document order: every path, parents before their children.
struct LineWalkObject {
  PyObject_HEAD PyObject* owner;  // the LineTableObject
  struct Walk {
    struct Level {
      std::uint32_t node;
      std::uint32_t next;  // index into the table's children
    };
    std::vector<Level> levels;
    std::vector<PyRef> path;
    bool started = false;
  }* walk;
};

const LineTable& table_of(PyObject* self) {
  return *reinterpret_cast<LineTableObject*>(self)->table;
}

void free_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

void table_dealloc(PyObject* self) {
  delete reinterpret_cast<LineTableObject*>(self)->table;
  free_object(self);
}

Py_ssize_t table_length(PyObject* self) {
  return static_cast<Py_ssize_t>(table_of(self).size());
}

// The record at the end of `path` (a tuple of components), or at the end of its longest
// known prefix when `partial`; kNoNode when the whole path is not known and not `partial`.
std::optional<std::uint32_t> walk_to(const LineTable& table, PyObject* path, bool partial) {
  std::uint32_t node = table.root();
  const Py_ssize_t size = PyTuple_Size(path);
  for (Py_ssize_t i = 0; i < size; ++i) {
    const auto next = table.child(node, PyTuple_GetItem(path, i));
    if (!next) return std::nullopt;
    if (*next == kNoNode) return partial ? node : kNoNode;
    node = *next;
  }
  return node;
}

PyObject* table_subscript(PyObject* self, PyObject* path) {
  const LineTable& table = table_of(self);
  std::optional<std::uint32_t> node = kNoNode;
  if (PyTuple_Check(path)) node = walk_to(table, path, false);
  if (!node) return nullptr;
  if (*node == kNoNode) {
    PyRef key = PyRef::steal(PyTuple_Pack(1, path));
    if (key) PyErr_SetObject(PyExc_KeyError, key.get());
    return nullptr;
  }
  return PyLong_FromUnsignedLongLong(table.line(*node));
}

PyObject* table_find(PyObject* self, PyObject* path) {
  const LineTable& table = table_of(self);
  PyRef components = PyRef::steal(PySequence_Tuple(path));
  if (!components) return nullptr;
  const std::optional<std::uint32_t> node = walk_to(table, components.get(), true);
  if (!node) return nullptr;
  return PyLong_FromUnsignedLongLong(table.line(*node));
}

PyObject* table_sizeof(PyObject* self, PyObject*) {
  return PyLong_FromSize_t(sizeof(LineTableObject) + table_of(self).footprint());
}

PyTypeObject* walk_type = nullptr;

PyObject* table_iter(PyObject* self) {
  auto* walk = PyObject_New(LineWalkObject, walk_type);
  if (walk == nullptr) return nullptr;
  walk->walk = new (std::nothrow) LineWalkObject::Walk();
  if (walk->walk == nullptr) {
    walk->owner = nullptr;
    Py_DECREF(walk);
    return PyErr_NoMemory();
  }
  Py_INCREF(self);
  walk->owner = self;
  return reinterpret_cast<PyObject*>(walk);
}

void walk_dealloc(PyObject* self) {
  auto* walk = reinterpret_cast<LineWalkObject*>(self);
  delete walk->walk;
  Py_XDECREF(walk->owner);
  free_object(self);
}

PyObject* path_tuple(const std::vector<PyRef>& path) {
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(path.size()));
  if (tuple == nullptr) return nullptr;
  for (std::size_t i = 0; i < path.size(); ++i) {
    Py_INCREF(path[i].get());
    PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(i), path[i].get());
  }
  return tuple;
}

PyObject* walk_next(PyObject* self) {
  auto& walk = *reinterpret_cast<LineWalkObject*>(self)->walk;
  const LineTable& table = table_of(reinterpret_cast<LineWalkObject*>(self)->owner);
  if (!walk.started) {
    walk.started = true;
    walk.levels.push_back({table.root(), table.children_begin(table.root())});
    return PyTuple_New(0);
  }
  while (!walk.levels.empty()) {
    auto& level = walk.levels.back();
    if (level.next == table.children_end(level.node)) {
      walk.levels.pop_back();
      if (!walk.path.empty()) walk.path.pop_back();
      continue;
    }
    const std::uint32_t index = level.next++;
    PyRef component = PyRef::steal(table.component(level.node, index));
    if (!component) return nullptr;
    const std::uint32_t child = table.child_at(index);
    walk.path.push_back(std::move(component));
    walk.levels.push_back({child, table.children_begin(child)});
    return path_tuple(walk.path);
  }
  return nullptr;
}

PyMethodDef table_methods[] = {
    {"find", table_find, METH_O,
     "find(path)\n--\n\nThe line of the longest prefix of `path` that is in the table."},
    {"__sizeof__", table_sizeof, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_mp_length, reinterpret_cast<void*>(table_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(table_subscript)},
    {Py_tp_iter, reinterpret_cast<void*>(table_iter)},
    {Py_tp_methods, table_methods},
    {Py_tp_doc, const_cast<char*>("The line of every value of a document, by path.")},
    {0, nullptr},
};

PyType_Spec table_spec = {
    "corvane._native.LineTable",
    sizeof(LineTableObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    table_slots,
};

PyType_Slot walk_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(walk_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(walk_next)},
    {0, nullptr},
};

PyType_Spec walk_spec = {
    "corvane._native.LineTableIterator",
    sizeof(LineWalkObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    walk_slots,
};

PyTypeObject* table_type = nullptr;

// Both types are made once, on first use, and kept for the life of the process.
bool make_types() {
  if (table_type != nullptr) return true;
  auto* walk = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&walk_spec));
  if (walk == nullptr) return false;
  auto* table = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&table_spec));
  if (table == nullptr) {
    Py_DECREF(walk);
    return false;
  }
  walk_type = walk;
  table_type = table;
  return true;
}

}  // namespace

PyObject* wrap_line_table(LineTable&& table) {
  if (!make_types()) return nullptr;
  auto owned = std::make_unique<LineTable>(std::move(table));
  auto* object = PyObject_New(LineTableObject, table_type);
  if (object == nullptr) return nullptr;
  object->table = owned.release();
  return reinterpret_cast<PyObject*>(object);
}

}  // namespace corvane
