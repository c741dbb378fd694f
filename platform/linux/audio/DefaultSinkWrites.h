#pragma once

// The default-sink writes sent to the audio server, and up to which of them the server's own
// default can be believed again.
// Implements: numbering the writes in flight, settling them when the server shows the written
// sink, refuses a write, is left, or has not taken a write up within its grace period.
// Does not implement: sending the writes or timing the grace period (PulseConnection does).
//
// PipeWire's pulse server answers a write before its session manager has applied it, so its
// next answers still name the old default; until the latest write has settled, the mirror keeps
// showing what was written.

#include <cstdint>
#include <deque>
#include <string>

namespace varnu::linux_backend {

class DefaultSinkWrites {
public:
    // The write with this number asked the server for this sink.
    void sent(const std::string& sinkName, std::uint64_t write);
    // The server answered the oldest write still in flight; true when that settled something.
    bool answered(bool success);
    // The server's default is now this sink.
    void serverShows(const std::string& sinkName);
    // The latest write was not taken up in time, or the server went away: what it says stands.
    void settleAll();
    // The server went away: no answer will come for the writes in flight.
    void forget();

    // The server's default reflects every write up to this number.
    std::uint64_t settled() const { return settled_; }
    bool allSettled() const { return settled_ >= requested_; }

private:
    void settle(std::uint64_t write);

    std::uint64_t requested_ = 0;
    std::uint64_t settled_ = 0;
    // The sink of the latest write, until the server shows it or the write settles otherwise.
    std::string awaited_;
    // For each write in flight, its number.
    std::deque<std::uint64_t> inFlight_;
};

} // namespace varnu::linux_backend
