// The entry point `load_with_lines`: arguments as `load` takes them, the same parse with a sink
// that records lines, and the errors of `load`, raised as the same classes.
#include "lines/lines.hpp"

#include <new>

#include "error/error.hpp"
#include "parser/parser.hpp"
#include "python/entry.hpp"

namespace corvane {

namespace {

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
  LineTable table = LineTable::build(sink.take_records(), root->node, first_content_line(text));
  return std::pair{std::move(root->object), std::move(table)};
}

PyObject* bind_and_load_with_lines(PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"input", "strict", "yaml_1_1_bools", nullptr};
  PyObject* input = nullptr;
  PyObject* strict_arg = nullptr;
  PyObject* bools_arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:load_with_lines",
                                   const_cast<char**>(keywords), &input, &strict_arg, &bools_arg)) {
    return nullptr;
  }
  if (!PyUnicode_Check(input)) {
    argument_type_error("load_with_lines", "input", "str", input);
    return nullptr;
  }
  const std::optional<std::string_view> text = utf8_text(input);
  if (!text) return nullptr;
  const std::optional<bool> strict = read_flag(strict_arg, "load_with_lines", "strict");
  if (!strict) return nullptr;
  const std::optional<bool> yaml_1_1_bools =
      read_flag(bools_arg, "load_with_lines", "yaml_1_1_bools");
  if (!yaml_1_1_bools) return nullptr;
  if (!fetch_error_classes()) return nullptr;
  try {
    auto result = *strict ? (*yaml_1_1_bools ? parse_with_lines<true, true>(input, *text)
                                             : parse_with_lines<true, false>(input, *text))
                          : (*yaml_1_1_bools ? parse_with_lines<false, true>(input, *text)
                                             : parse_with_lines<false, false>(input, *text));
    if (!result) {
      raise_load_error(result.error(), parse_error_class, unsupported_error_class);
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
