// What load_with_lines returns: the value and the table of its lines.
#include "lines/lines.hpp"

#include "parser/feed/feed.hpp"
#include "parser/scan/scan.hpp"

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

}  // namespace

PyObject* finish_with_lines(LineBuilder& sink, LinedValue&& root) {
  LineTable table =
      LineTable::build(sink.take_records(), root.node, first_content_line(sink.text()));
  PyRef wrapped = PyRef::steal(wrap_line_table(std::move(table)));
  if (!wrapped) return nullptr;
  return PyTuple_Pack(2, root.object.get(), wrapped.get());
}

}  // namespace corvane
