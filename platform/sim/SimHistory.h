#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace varnu::sim {

// What a simulated backend did, in order, and an optional observer told of each record as it
// happens (the scenario runner prints its trace from these).
template <typename Record>
class SimHistory {
public:
    using Observer = std::function<void(const Record&)>;

    void add(Record record) {
        records_.push_back(record);
        if (observer_) {
            // The observer may act on the backend and add records of its own.
            Observer observer = observer_;
            observer(record);
        }
    }

    const std::vector<Record>& records() const { return records_; }
    void clear() { records_.clear(); }
    void setObserver(Observer observer) { observer_ = std::move(observer); }

private:
    std::vector<Record> records_;
    Observer observer_;
};

} // namespace varnu::sim
