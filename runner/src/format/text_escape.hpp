// Turning the arbitrary bytes a check prints into text that a report form may carry.
//
// A check's output and failure message are byte strings: they may hold invalid UTF-8, NUL,
// the ESC of colour codes, quotes and markup. Each function here decodes the bytes as UTF-8,
// replacing every invalid sequence by U+FFFD (one replacement per maximal invalid subpart),
// and writes the result in a form its consumer accepts whatever the input was.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace runner {

// Appends `bytes` as a JSON string literal, quotes included: valid UTF-8 only, control
// characters (and DEL, U+2028, U+2029) escaped as \u00XX or their short forms.
void append_json_string(std::string& out, std::string_view bytes);

// Appends `bytes` as XML 1.0 character data: `&`, `<` and `>` escaped, carriage returns kept
// as a character reference, and characters XML 1.0 does not allow (control characters other
// than tab and line feed, DEL, U+FFFE, U+FFFF) shown as their visible control pictures
// (ESC as U+241B, NUL as U+2400, ...) so a reader still sees where they were.
void append_xml_text(std::string& out, std::string_view bytes);

// As append_xml_text, for a double-quoted attribute value: `"` is escaped too, and tab, line
// feed and carriage return become character references so they survive normalisation.
void append_xml_attribute(std::string& out, std::string_view bytes);

} // namespace runner
