#pragma once

#include <string_view>

namespace varnu::sim {

// The scenario `varnu-sim --demo` plays: a launch, a few key presses on an external monitor,
// a mute, the menu, the settings window and quitting.
std::string_view demoScenario();

// The system the demo is played as: the one varnu-sim runs on, named in Varnu's texts as the
// real application names it. Empty where the simulated platform's own name has to do.
std::string_view demoSystemName();

} // namespace varnu::sim
