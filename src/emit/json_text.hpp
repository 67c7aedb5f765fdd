// The text rules of JSON as the `corvane FILE` command writes it: strings escaped as
// json.dumps(ensure_ascii=False) escapes them, floats as repr writes them, and the names `.nan`,
// `.inf` and `-.inf` (as YAML spells them) for the floats JSON has no number for.
#pragma once

#include <cstddef>
#include <string_view>

#include "emit/float_text.hpp"
#include "emit/output.hpp"

namespace corvane::emit {

// The most bytes write_float_name and write_json_float write.
inline constexpr std::size_t kMaxJsonFloat = kMaxFloatText + 2;

// `text`, UTF-8, as a JSON string: in double quotes, with `"`, `\` and the C0 controls escaped
// (`\n`, `\u001b`) and everything else as it is. False only when memory ran out.
bool write_json_string(Output& output, std::string_view text);

// The text a float key becomes: repr of a finite value, or its name. Returns the length.
std::size_t write_float_name(double value, char* out);

// A float value: repr of a finite value, or its name as a JSON string. Returns the length.
std::size_t write_json_float(double value, char* out);

}  // namespace corvane::emit
