// The entry point `load_with_lines`: arguments as `load` takes them, the same parse with a sink
// that records lines, and the errors of `load`, raised as the same classes.
#include "lines/lines.hpp"

#include <new>

#include "error/error.hpp"
#include "parser/parser.hpp"
#include "python/entry.hpp"
#include "python/line_sink.hpp"
#include "python/line_table.hpp"

namespace corvane {

namespace {

// The line the root value starts on: the first line the parser does not skip as blank or
// comment, read with the parser's own line scanner; line 1 for a document without content.
std::uint64_t first_content_line(std::string_view text) {
  LineFeed feed(text);
  while (auto next = feed.next()) {
    auto scanned = scan_line(strip_carriage_returns(next->text), next->number);
    if (!scanned || *scanned) return next->number;
  }
  return 1;
}

template <bool Strict, bool Yaml11Bools>
Result<std::pair<PyRef, LineTable>> parse_with_lines(PyObject* input, std::string_view text) {
  LineSink<Strict, Yaml11Bools> sink(input, text);
  Parser<LineSink<Strict, Yaml11Bools>> parser(text, sink);
  Result<LinedValue> root = parser.parse();
  if (!root) return unexpected(std::move(root.error()));
  LineTable table = sink.take_table(root->node, first_content_line(text));
  return std::pair{std::move(root->object), std::move(table)};
}

PyObject* bind_and_load_with_lines(PyObject* args, PyObject* kwargs) {
  const std::optional<LoadArguments> arguments =
      bind_load_arguments(args, kwargs, "load_with_lines");
  if (!arguments) return nullptr;
  const std::optional<ErrorClasses> errors = fetch_error_classes();
  if (!errors) return nullptr;
  try {
    auto result = dispatch_flags(*arguments, [&]<bool Strict, bool Yaml11Bools>() {
      return parse_with_lines<Strict, Yaml11Bools>(arguments->input, arguments->text);
    });
    if (!result) {
      raise_load_error(result.error(), errors->parse, errors->unsupported);
      return nullptr;
    }
    PyRef table = PyRef::steal(wrap_line_table(std::move(result->second)));
    if (!table) return nullptr;
    return PyTuple_Pack(2, result->first.get(), table.get());
  } catch (const TooManyLines&) {
    PyErr_SetString(PyExc_OverflowError,
                    "load_with_lines() keeps lines and values in 32-bit numbers; this document "
                    "has more than 4294967294 of one of them");
  }
  return nullptr;
}

}  // namespace

PyObject* load_with_lines_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return run_guarded([&] { return bind_and_load_with_lines(args, kwargs); });
}

}  // namespace corvane
