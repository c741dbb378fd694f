#pragma once

#include <cstdint>

namespace varnu {

// The pauses of the DDC/CI protocol go through here, so that they can run in virtual time.
class Pause {
public:
    virtual ~Pause() = default;
    virtual void usleep(std::uint32_t microseconds) = 0;
};

} // namespace varnu
