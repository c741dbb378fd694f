#pragma once

// The system's preferred-language list, as a test or the scenario sets it.
// Implements: PreferredLanguages. Does not: follow any real locale setting.

#include "platform/PreferredLanguages.h"

#include <string>
#include <utility>
#include <vector>

namespace varnu::sim {

class SimPreferredLanguages final : public PreferredLanguages {
public:
    SimPreferredLanguages() = default;
    explicit SimPreferredLanguages(std::vector<std::string> languages)
        : languages_(std::move(languages)) {}

    std::vector<std::string> preferredLanguages() override { return languages_; }

    void setPreferredLanguages(std::vector<std::string> languages) {
        languages_ = std::move(languages);
    }

private:
    std::vector<std::string> languages_;
};

} // namespace varnu::sim
