// The extension module `corvane._native`: the C++ entry points that the package offers beside
// `_corvane.load` (`dump`, `load_with_lines`), the internal-error class they share with it, the
// making of load_file's errors and the command's JSON writer. `_corvane` keeps its fixed
// surface; everything newer is here.
#include "python/builder.hpp"
#include "python/dump.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"
#include "python/json_write.hpp"
#include "python/line_sink.hpp"
#include "python/line_table.hpp"
#include "python/portable.hpp"

namespace corvane {

namespace {

#if defined(CORVANE_TEST_HOOKS)
// `load` with every flow collection read by the exact reader alone, so that the test tables
// can check that both flow readers agree.
template <bool Strict, bool Yaml11Bools>
class ExactFlowSink : public PySink<Strict, Yaml11Bools> {
 public:
  static constexpr bool flow_quick_reader = false;
  using PySink<Strict, Yaml11Bools>::PySink;
};

PyObject* load_exact_flow(PyObject*, PyObject* args, PyObject* kwargs) {
  return load_entry<ExactFlowSink>(args, kwargs, "load",
                                   [](auto&, PyRef&& root) { return root.release(); });
}
#endif

// The value and its LineTable, as a tuple.
PyObject* value_with_lines(LineBuilder& sink, LinedValue&& root) {
  PyRef table = PyRef::steal(wrap_line_table(sink.take_table(root.node)));
  if (!table) return nullptr;
  return PyTuple_Pack(2, root.object.get(), table.get());
}

PyObject* load_with_lines(PyObject*, PyObject* args, PyObject* kwargs) {
  return load_entry<LineSink>(args, kwargs, "load_with_lines", value_with_lines);
}

template <class Function>
PyCFunction as_method(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef native_methods[] = {
    {"dump", as_method(dump_function), METH_VARARGS | METH_KEYWORDS,
     "dump(value, *, indent=2, sort_keys=False)\n--\n\n"
     "Write a value as block-style YAML that load() reads back as the same value."},
    {"load_with_lines", as_method(load_with_lines), METH_VARARGS | METH_KEYWORDS,
     "load_with_lines(input, strict=False, yaml_1_1_bools=False)\n--\n\n"
     "Load a document as load() does; also return the line of every value, by path."},
    {"_write_json", as_method(write_json_function), METH_VARARGS,
     "_write_json(value, write, indent)\n--\n\n"
     "Write a value as JSON for the corvane command, handing write() bytes as they are made."},
    {"_portability", as_method(portability_function), METH_VARARGS | METH_KEYWORDS,
     "_portability(input, strict=False, yaml_1_1_bools=False)\n--\n\n"
     "The plain scalars that YAML 1.1 readers read differently, for corvane --check --portable."},
    {"_error_in_file", as_method(error_in_file_function), METH_VARARGS,
     "_error_in_file(cls, path, line, message)\n--\n\n"
     "A new error of cls whose text is 'PATH:LINE: message', for load_file."},
#if defined(CORVANE_TEST_HOOKS)
    {"_load_exact_flow", as_method(load_exact_flow), METH_VARARGS | METH_KEYWORDS, nullptr},
#endif
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef native_definition = {
    PyModuleDef_HEAD_INIT,
    "corvane._native",
    "",
    0,
    native_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace corvane

PyMODINIT_FUNC PyInit__native(void) {
  using namespace corvane;
  prepare_internal_failures();
  if (!decide_collector_pause()) return nullptr;
  const ErrorClasses* classes = import_error_classes();
  if (classes == nullptr) return nullptr;
  PyRef module = PyRef::steal(PyModule_Create(&native_definition));
  PyObject* table_type = line_table_type();
  PyObject* key_clash = json_key_clash_class();
  if (!module || table_type == nullptr || key_clash == nullptr ||
      PyModule_AddObjectRef(module.get(), "InternalError", classes->internal) != 0 ||
      PyModule_AddObjectRef(module.get(), "LineTable", table_type) != 0 ||
      PyModule_AddObjectRef(module.get(), "JSONKeyClash", key_clash) != 0) {
    return nullptr;
  }
  return module.release();
}
