#pragma once

// Text from outside (a device's or an output's name, chosen by whoever made the gadget) made safe
// to print on a terminal, where an escape sequence in it would otherwise act.
// Implements: valid UTF-8 kept as it is; each byte of a control character (C0, DEL, the C1
// controls) and each byte that is not part of valid UTF-8 (stray continuation bytes, overlong
// forms, surrogates, beyond U+10FFFF, cut-off sequences) written as \xNN.
// Does not implement: the Unicode format characters (bidirectional overrides), which terminals
// show rather than obey.

#include <string>
#include <string_view>

namespace varnu::linux_backend {

std::string printableText(std::string_view text);

} // namespace varnu::linux_backend
