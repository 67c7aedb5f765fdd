// The Python side of the line index: the key objects behind its key ids, look-ups by paths of
// Python keys and indexes, and the types corvane._native.LineTable and its iterator.
#include "python/line_table.hpp"

#include <memory>
#include <new>
#include <utility>

#include "python/entry.hpp"

namespace corvane {

namespace {

// The key objects of a parse, by id, as the index's build sees them. They are the document's
// scalars, which the mappings have hashed already (a string keeps its hash) and whose hashing
// and comparison fail only when the interpreter does.
struct KeyObjects {
  const std::vector<PyRef>& objects;

  std::uint64_t hash(KeyId key) const {
    const Py_hash_t hash = PyObject_Hash(objects[key].get());
    if (hash == -1) throw InternalFailure{"PyObject_Hash"};
    return static_cast<std::uint64_t>(hash);
  }
  bool equal(KeyId a, KeyId b) const {
    const int equal = PyObject_RichCompareBool(objects[a].get(), objects[b].get(), Py_EQ);
    if (equal < 0) throw InternalFailure{"PyObject_RichCompareBool"};
    return equal == 1;
  }
};

}  // namespace

LineTable LineTable::build(LineRecords&& records, std::vector<PyRef> keys, std::uint32_t root,
                           std::uint64_t root_line) {
  const KeyObjects objects{keys};
  BuiltLineIndex built =
      LineIndex::build(std::move(records), root, root_line, KeyFunctions(objects));
  LineTable table;
  table.index_ = std::move(built.index);
  if (built.kept_keys) {
    table.keys_.reserve(built.kept_keys->size());
    for (const KeyId key : *built.kept_keys) table.keys_.push_back(std::move(keys[key]));
  } else {
    // The keys came one at a time, and a table may live long.
    table.keys_ = std::move(keys);
    table.keys_.shrink_to_fit();
  }
  return table;
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

ChildLookup LineTable::child(std::uint32_t node, PyObject* component) const {
  switch (index_.kind(node)) {
    case NodeKind::Scalar: return {};
    case NodeKind::Seq: {
      const Py_ssize_t position = index_of(component);
      if (position < 0) return {};
      return {index_.item(node, static_cast<std::size_t>(position))};
    }
    case NodeKind::Map: break;
  }
  const Py_hash_t hash = PyObject_Hash(component);
  if (hash == -1) return {kNoNode, true};
  return index_.entry(node, static_cast<std::uint64_t>(hash), [&](KeyId key) {
    const int equal = PyObject_RichCompareBool(keys_[key].get(), component, Py_EQ);
    if (equal < 0) return KeyMatch::Failed;
    return equal == 1 ? KeyMatch::Equal : KeyMatch::Different;
  });
}

PyObject* LineTable::component(std::uint32_t parent, std::uint32_t index) const {
  if (index_.kind(parent) == NodeKind::Seq) {
    return PyLong_FromSize_t(index - index_.children_begin(parent));
  }
  PyObject* key = keys_[index_.key(index_.child_at(index))].get();
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
  return static_cast<Py_ssize_t>(table_of(self).index().size());
}

// The record at the end of `path` (a tuple of components), or at the end of its longest
// known prefix when `partial`; kNoNode when the whole path is not known and not `partial`.
ChildLookup walk_to(const LineTable& table, PyObject* path, bool partial) {
  std::uint32_t node = table.index().root();
  const Py_ssize_t size = PyTuple_Size(path);
  for (Py_ssize_t i = 0; i < size; ++i) {
    const ChildLookup next = table.child(node, PyTuple_GetItem(path, i));
    if (next.comparison_failed) return next;
    if (next.node == kNoNode) return {partial ? node : kNoNode};
    node = next.node;
  }
  return {node};
}

PyObject* table_subscript(PyObject* self, PyObject* path) {
  const LineTable& table = table_of(self);
  ChildLookup found;
  if (PyTuple_Check(path)) found = walk_to(table, path, false);
  if (found.comparison_failed) return nullptr;
  if (found.node == kNoNode) {
    PyRef key = PyRef::steal(PyTuple_Pack(1, path));
    if (key) PyErr_SetObject(PyExc_KeyError, key.get());
    return nullptr;
  }
  return PyLong_FromUnsignedLongLong(table.index().line(found.node));
}

PyObject* table_find(PyObject* self, PyObject* path) {
  // A string is a sequence of its characters, which would be taken for keys.
  if (PyUnicode_Check(path) || PyBytes_Check(path) || PyByteArray_Check(path)) {
    argument_type_error("find", "path", "a sequence of keys and indexes", path);
    return nullptr;
  }
  const LineTable& table = table_of(self);
  PyRef components = PyRef::steal(PySequence_Tuple(path));
  if (!components) return nullptr;
  const ChildLookup found = walk_to(table, components.get(), true);
  if (found.comparison_failed) return nullptr;
  return PyLong_FromUnsignedLongLong(table.index().line(found.node));
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
  const LineIndex& index = table.index();
  if (!walk.started) {
    walk.started = true;
    walk.levels.push_back({index.root(), index.children_begin(index.root())});
    return PyTuple_New(0);
  }
  while (!walk.levels.empty()) {
    auto& level = walk.levels.back();
    if (level.next == index.children_end(level.node)) {
      walk.levels.pop_back();
      if (!walk.path.empty()) walk.path.pop_back();
      continue;
    }
    const std::uint32_t position = level.next++;
    PyRef component = PyRef::steal(table.component(level.node, position));
    if (!component) return nullptr;
    const std::uint32_t child = index.child_at(position);
    walk.path.push_back(std::move(component));
    walk.levels.push_back({child, index.children_begin(child)});
    return path_tuple(walk.path);
  }
  return nullptr;
}

PyMethodDef table_methods[] = {
    {"find", table_find, METH_O,
     "find(path)\n--\n\nThe line of the longest prefix of `path` (a sequence of keys and indexes, "
     "not a string) that is in the table."},
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

PyObject* line_table_type() {
  if (!make_types()) return nullptr;
  return reinterpret_cast<PyObject*>(table_type);
}

PyObject* wrap_line_table(LineTable&& table) {
  if (!make_types()) return nullptr;
  auto owned = std::make_unique<LineTable>(std::move(table));
  auto* object = PyObject_New(LineTableObject, table_type);
  if (object == nullptr) return nullptr;
  object->table = owned.release();
  return reinterpret_cast<PyObject*>(object);
}

}  // namespace corvane
