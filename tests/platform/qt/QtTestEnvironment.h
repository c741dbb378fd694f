#pragma once

// The QApplication every Qt test runs in, on the offscreen platform, and ways to let its event
// loop turn.

#include <chrono>
#include <functional>

namespace varnu::qt::test {

// Runs the event loop until the condition holds or the time is up; answers the condition.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
// Runs the event loop for the duration.
void pumpFor(std::chrono::milliseconds duration);
// Lets every event already posted run, and what they post for now.
void pumpPosted();

} // namespace varnu::qt::test
