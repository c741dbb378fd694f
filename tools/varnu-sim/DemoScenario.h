#pragma once

#include <string_view>

namespace varnu::sim {

// The scenario `varnu-sim --demo` plays: a launch, a few key presses on an external monitor,
// a mute, the menu, the settings window and quitting.
std::string_view demoScenario();

} // namespace varnu::sim
