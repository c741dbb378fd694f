#include "platform/linux/displays/I2cDevReports.h"

#include "platform/linux/files/PrintableText.h"

namespace varnu::linux_backend {

void I2cDevReports::report(const std::string& subject, const std::string& cause,
                           const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!out_ || !reported_.insert(subject + '\n' + cause).second) {
        return;
    }
    *out_ << "varnu: " << printableText(subject) << ": " << printableText(text) << '\n' << std::flush;
}

} // namespace varnu::linux_backend
