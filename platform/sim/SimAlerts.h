#pragma once

// Simulated alerts: each one is recorded and dismissed at once.

#include "platform/Alert.h"
#include "platform/sim/SimHistory.h"

#include <string>
#include <vector>

namespace varnu::sim {

struct AlertRecord {
    std::string messageText;
    std::string informativeText;
    friend bool operator==(const AlertRecord&, const AlertRecord&) = default;
};

class SimAlerts final : public Alerts {
public:
    void runModal(const std::string& messageText, const std::string& informativeText) override {
        history_.add({messageText, informativeText});
    }

    const std::vector<AlertRecord>& history() const { return history_.records(); }
    void setObserver(SimHistory<AlertRecord>::Observer observer) {
        history_.setObserver(std::move(observer));
    }

private:
    SimHistory<AlertRecord> history_;
};

} // namespace varnu::sim
