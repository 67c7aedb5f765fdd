// The portability scan as Python sees it: the document parsed with the sink that builds nothing
// and keeps the plain scalars read differently, each turned into a tuple of Python values.
#include "python/portable.hpp"

#include <cmath>

#include "emit/portable.hpp"
#include "parser/scan/scan.hpp"
#include "python/entry.hpp"

namespace corvane {

namespace {

template <bool Strict, bool Yaml11Bools>
class PortabilityScan : public PortabilitySink<Yaml11Bools> {
 public:
  PortabilityScan(PyObject*, std::string_view text) : text_(text) {}
  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

PyObject* text_of(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// Corvane's value of the scalar.
PyObject* corvane_value(const PortabilityFinding& finding) {
  switch (finding.kind) {
    case Scalar::Kind::Null: Py_RETURN_NONE;
    case Scalar::Kind::Bool: return PyBool_FromLong(finding.boolean);
    case Scalar::Kind::Int: return PyLong_FromLongLong(finding.integer);
    case Scalar::Kind::Float: return PyFloat_FromDouble(finding.number);
    case Scalar::Kind::Str: break;
  }
  return text_of(finding.text);
}

// The YAML 1.1 reader's kind, in words, and its value where Python has one (None otherwise).
const char* reading_kind(const Yaml11Reading& reading) {
  switch (reading.kind) {
    case Yaml11Reading::Kind::String: return "str";
    case Yaml11Reading::Kind::Null: return "null";
    case Yaml11Reading::Kind::Bool: return "bool";
    case Yaml11Reading::Kind::Int: return "int";
    case Yaml11Reading::Kind::Float: return "float";
    case Yaml11Reading::Kind::Timestamp: return "timestamp";
    case Yaml11Reading::Kind::Merge: return "merge";
    case Yaml11Reading::Kind::Value: return "value";
  }
  return "?";
}

PyObject* reading_value(const PortabilityFinding& finding) {
  const Yaml11Reading& reading = finding.reading;
  switch (reading.kind) {
    case Yaml11Reading::Kind::String: return text_of(finding.text);
    case Yaml11Reading::Kind::Bool: return PyBool_FromLong(reading.boolean);
    case Yaml11Reading::Kind::Int:
      if (reading.integer_fits) return PyLong_FromLongLong(reading.integer);
      Py_RETURN_NONE;
    case Yaml11Reading::Kind::Float: return PyFloat_FromDouble(reading.number);
    default: Py_RETURN_NONE;
  }
}

template <class Sink>
PyObject* findings_list(Sink& sink) {
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  std::uint64_t root_line = 0;
  for (const PortabilityFinding& finding : sink.findings()) {
    std::uint64_t line = finding.line;
    if (line == 0) line = root_line = root_line != 0 ? root_line : first_content_line(sink.text());
    PyRef value = PyRef::steal(corvane_value(finding));
    PyRef read = PyRef::steal(reading_value(finding));
    PyRef text = PyRef::steal(text_of(finding.text));
    if (!value || !read || !text) return nullptr;
    PyRef entry = PyRef::steal(Py_BuildValue(
        "(KOOOsOs#)", static_cast<unsigned long long>(line), text.get(),
        finding.is_key ? Py_True : Py_False, value.get(), reading_kind(finding.reading), read.get(),
        finding.reading.rule.data(), static_cast<Py_ssize_t>(finding.reading.rule.size())));
    if (!entry || PyList_Append(list.get(), entry.get()) < 0) return nullptr;
  }
  return list.release();
}

}  // namespace

PyObject* portability_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return load_entry<PortabilityScan>(args, kwargs, "_portability",
                                     [](auto& sink, auto&&) { return findings_list(sink); });
}

}  // namespace corvane
