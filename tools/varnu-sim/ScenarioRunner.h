#pragma once

// Plays a scenario on the simulated platform and writes Varnu's trace.

#include "tools/varnu-sim/Scenario.h"
#include "tools/varnu-sim/ScenarioWorld.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::sim {

// Carries out the commands in order on the world; the first one that cannot be carried out
// ends the play with an error.
std::optional<ScenarioError> playCommands(const std::vector<ScenarioCommand>& commands,
                                          ScenarioWorld& world);

// Parses and plays the scenario on a world of its own, a system called systemName (empty: the
// simulated platform's own name).
std::optional<ScenarioError> playScenario(std::string_view text, std::ostream& trace,
                                          const std::string& systemName = {});

} // namespace varnu::sim
