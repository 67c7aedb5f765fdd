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

template <bool Strict, bool Yaml11Bools>
Result<PyRef> parse_exact_flow(PyObject* input, std::string_view text) {
  ExactFlowSink<Strict, Yaml11Bools> sink(input, text);
  Parser<ExactFlowSink<Strict, Yaml11Bools>> parser(text, sink);
  return parser.parse();
}

PyObject* bind_and_load_exact_flow(PyObject* args, PyObject* kwargs) {
  const std::optional<LoadArguments> arguments = bind_load_arguments(args, kwargs, "load");
  if (!arguments) return nullptr;
  const std::optional<ErrorClasses> errors = fetch_error_classes();
  if (!errors) return nullptr;
  Result<PyRef> result = dispatch_flags(*arguments, [&]<bool Strict, bool Yaml11Bools>() {
    return parse_exact_flow<Strict, Yaml11Bools>(arguments->input, arguments->text);
  });
  if (result) return result->release();
  raise_load_error(result.error(), errors->parse, errors->unsupported);
  return nullptr;
}

}  // namespace

PyObject* load_exact_flow_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return run_guarded([&] { return bind_and_load_exact_flow(args, kwargs); });
}

}  // namespace corvane
