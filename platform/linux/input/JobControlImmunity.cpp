#include "platform/linux/input/JobControlImmunity.h"

namespace varnu::linux_backend {

JobControlImmunity::JobControlImmunity() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (std::size_t index = 0; index < kJobControlSignals.size(); ++index) {
        ::sigaction(kJobControlSignals[index], &ignore, &previous_[index]);
    }
}

JobControlImmunity::~JobControlImmunity() {
    for (std::size_t index = 0; index < kJobControlSignals.size(); ++index) {
        ::sigaction(kJobControlSignals[index], &previous_[index], nullptr);
    }
}

} // namespace varnu::linux_backend
