#include "tools/varnu-sim/DemoScenario.h"

namespace varnu::sim {

std::string_view demoScenario() {
    return R"(# A computer with an external monitor whose speakers the system cannot control.
output builtin "Built-in Speakers" native
output demo-display "Varnu Demo Display"
monitor "Varnu Demo Display" volume=30
# Varnu has been set up before: it remembers the monitor as the output to use.
store selectedDeviceUID "demo-display"
launch
wait 1
# Two presses of sound up, then one fine step down with Shift+Option held.
key up
wait 0.5
key up
wait 0.5
key down shift option
wait 0.5
key down shift option release
key mute
wait 2
menu
settings
# Back to the computer's own speakers: the system handles the keys again.
menu-choose "Built-in Speakers"
wait 1
key up
wait 1
quit
)";
}

std::string_view demoSystemName() {
#if defined(__linux__)
    return "Linux";
#elif defined(__APPLE__)
    return "macOS";
#else
    return {};
#endif
}

} // namespace varnu::sim
