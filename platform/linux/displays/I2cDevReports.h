#pragma once

// What went wrong on the I2C buses, told once per bus and cause however often it recurs, so
// that a display that never answers or a bus that keeps failing does not flood the log.
// Shared by every channel and the discovery; safe to use from any thread.

#include <mutex>
#include <ostream>
#include <set>
#include <string>

namespace varnu::linux_backend {

class I2cDevReports {
public:
    // Null keeps quiet.
    explicit I2cDevReports(std::ostream* out)
        : out_(out) {}

    // Writes "varnu: SUBJECT: TEXT", control characters escaped, unless SUBJECT has already been
    // reported for CAUSE.
    void report(const std::string& subject, const std::string& cause, const std::string& text);

private:
    std::mutex mutex_;
    std::ostream* out_;
    std::set<std::string> reported_;
};

} // namespace varnu::linux_backend
