// The lines of a loaded document as Python sees them: the line index with the key objects its
// key ids stand for, looked up by paths of Python keys and indexes, and offered to Python as
// the object behind corvane.Lines (type corvane._native.LineTable).
#pragma once

#include "python/builder.hpp"
#include "python/errors.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lines/index.hpp"

namespace corvane {

class LineTable {
 public:
  // Indexes the records of a parse; `keys` are its key objects, by the ids the records gave
  // out. The table keeps the ones the index still holds.
  static LineTable build(LineRecords&& records, std::vector<PyRef> keys, std::uint32_t root,
                         std::uint64_t root_line);

  const LineIndex& index() const { return index_; }
  // Bytes held: the index and the references to the keys.
  std::size_t footprint() const {
    return sizeof(LineTable) - sizeof(LineIndex) + index_.footprint() +
           keys_.capacity() * sizeof(PyRef);
  }

  // The child of `node` at `component` (a key or an index); the interpreter's error is set
  // when comparing keys failed.
  ChildLookup child(std::uint32_t node, PyObject* component) const;
  // The path component of the child at `index` of the children of `parent` (a new reference).
  PyObject* component(std::uint32_t parent, std::uint32_t index) const;

 private:
  LineIndex index_;
  std::vector<PyRef> keys_;
};

// The Python object that owns a table (type corvane._native.LineTable).
PyObject* wrap_line_table(LineTable&& table);
// The type corvane._native.LineTable (a borrowed reference), made on first use; null with the
// interpreter's error set when it cannot be made.
PyObject* line_table_type();

}  // namespace corvane
