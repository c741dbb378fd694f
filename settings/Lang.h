#pragma once

#include "platform/PreferredLanguages.h"
#include "platform/UserDefaults.h"

namespace varnu::Lang {

// German or English, decided afresh on every call from the stored "language" setting and,
// when that says nothing definite, the system's first preferred language.
bool isGerman(UserDefaults& defaults, PreferredLanguages& languages);

} // namespace varnu::Lang
