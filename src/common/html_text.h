#pragma once
// Text made safe to stand inside HTML, as element text or a quoted attribute value.

#include <string>

namespace noctarbel {

// &, <, >, " and ' as character references; everything else as it is.
std::string HtmlEscaped(const std::string& text);

}  // namespace noctarbel
