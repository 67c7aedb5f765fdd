// `_load_exact_flow`: the arguments, result and errors of `load`, parsed with a sink that turns
// the quick flow reader off.
#include "native/exact_flow.hpp"

#include <optional>
#include <string_view>

#include "error/error.hpp"
#include "parser/parser.hpp"
#include "python/entry.hpp"
#include "python/python.hpp"

namespace corvane {

namespace {

// The sink of `load`, declaring that parse_flow must skip its quick reader.
template <bool Strict, bool Yaml11Bools>
class ExactFlowSink : public PySink<Strict, Yaml11Bools> {
 public:
  static constexpr bool flow_quick_reader = false;
  using PySink<Strict, Yaml11Bools>::PySink;
};

// The exception classes of `_corvane`, fetched once: errors must be the very classes that
// `load` raises.
PyObject* parse_error_class = nullptr;
PyObject* unsupported_error_class = nullptr;

bool fetch_error_classes() {
  if (parse_error_class != nullptr) return true;
  PyRef module = PyRef::steal(PyImport_ImportModule("_corvane"));
  if (!module) return false;
  // Each lookup is checked before the next: none may run with an error pending.
  PyRef parse = PyRef::steal(PyObject_GetAttrString(module.get(), "ParseError"));
  if (!parse) return false;
  PyRef unsupported = PyRef::steal(PyObject_GetAttrString(module.get(), "UnsupportedFeatureError"));
  if (!unsupported) return false;
  parse_error_class = parse.release();
  unsupported_error_class = unsupported.release();
  return true;
}

template <bool Strict, bool Yaml11Bools>
Result<PyRef> parse_exact_flow(PyObject* input, std::string_view text) {
  ExactFlowSink<Strict, Yaml11Bools> sink(input, text);
  Parser<ExactFlowSink<Strict, Yaml11Bools>> parser(text, sink);
  return parser.parse();
}

PyObject* bind_and_load_exact_flow(PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"input", "strict", "yaml_1_1_bools", nullptr};
  PyObject* input = nullptr;
  PyObject* strict_arg = nullptr;
  PyObject* bools_arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:load", const_cast<char**>(keywords), &input,
                                   &strict_arg, &bools_arg)) {
    return nullptr;
  }
  if (!PyUnicode_Check(input)) {
    argument_type_error("load", "input", "str", input);
    return nullptr;
  }
  const std::optional<std::string_view> text = utf8_text(input);
  if (!text) return nullptr;
  const std::optional<bool> strict = read_flag(strict_arg, "load", "strict");
  if (!strict) return nullptr;
  const std::optional<bool> yaml_1_1_bools = read_flag(bools_arg, "load", "yaml_1_1_bools");
  if (!yaml_1_1_bools) return nullptr;
  if (!fetch_error_classes()) return nullptr;
  Result<PyRef> result = *strict ? (*yaml_1_1_bools ? parse_exact_flow<true, true>(input, *text)
                                                    : parse_exact_flow<true, false>(input, *text))
                                 : (*yaml_1_1_bools ? parse_exact_flow<false, true>(input, *text)
                                                    : parse_exact_flow<false, false>(input, *text));
  if (result) return result->release();
  raise_load_error(result.error(), parse_error_class, unsupported_error_class);
  return nullptr;
}

}  // namespace

PyObject* load_exact_flow_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return run_guarded([&] { return bind_and_load_exact_flow(args, kwargs); });
}

}  // namespace corvane
