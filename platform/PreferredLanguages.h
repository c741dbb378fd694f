#pragma once

#include <string>
#include <vector>

namespace varnu {

// The user's preferred interface languages, most preferred first ("de-DE", "en-US").
class PreferredLanguages {
public:
    virtual ~PreferredLanguages() = default;
    virtual std::vector<std::string> preferredLanguages() = 0;
};

} // namespace varnu
