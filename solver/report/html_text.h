// Text from the input made safe for the page.
#pragma once

#include <string>
#include <string_view>

// `s` made printable() and then safe as HTML text and as a quoted attribute
// value: & < > " ' as character references, and the two noncharacters
// U+FFFE and U+FFFF (which XML refuses) as U+FFFD.
std::string html_text(std::string_view s);
