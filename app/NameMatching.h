#pragma once

#include <string>
#include <string_view>

namespace varnu {

// Case-insensitive containment of UTF-8 texts, as used to tell which monitor an audio output
// belongs to: whether `text` contains `part`, ignoring case.
//
// Case is ignored through Unicode simple case folding for the scripts that device names are
// written in: Basic Latin, Latin-1, Latin Extended-A, Greek and Cyrillic (and capital sharp s).
// Foldings that change the length of a text (sharp s to "ss") and locale-specific ones (the
// Turkish dotted and dotless i) are not applied. Bytes that are not valid UTF-8 only match
// themselves. An empty part is contained in every text.
bool containsIgnoringCase(std::string_view text, std::string_view part);

// The simple case folding of one code point (see above); other code points stay as they are.
char32_t foldCase(char32_t codePoint);

} // namespace varnu
