#pragma once

// Simulated workspace: records each link it is asked to open and answers as configured.

#include "platform/Workspace.h"
#include "platform/sim/SimHistory.h"

#include <string>
#include <vector>

namespace varnu::sim {

struct WorkspaceRecord {
    std::string url;
    bool accepted = false;
    friend bool operator==(const WorkspaceRecord&, const WorkspaceRecord&) = default;
};

class SimWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override {
        history_.add({url, accepts_});
        return accepts_;
    }

    // Whether openURL accepts the request (it does unless told otherwise).
    void setAccepts(bool accepts) { accepts_ = accepts; }

    const std::vector<WorkspaceRecord>& history() const { return history_.records(); }
    void setObserver(SimHistory<WorkspaceRecord>::Observer observer) {
        history_.setObserver(std::move(observer));
    }

private:
    bool accepts_ = true;
    SimHistory<WorkspaceRecord> history_;
};

} // namespace varnu::sim
