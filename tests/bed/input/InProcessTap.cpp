// The keyboard bed's tap in process: the real EvdevEventTap, with the session the test switches.

#include "platform/linux/input/EvdevEventTap.h"
#include "tests/bed/input/KeyboardBed.h"

namespace varnu::bed {

std::unique_ptr<EventTap> makeBedTap(KeyboardBed& machine, std::ostream& diagnostics,
                                     const BedTapSettings& settings, EventTapCallback callback) {
    linux_backend::EvdevTapPaths paths;
    paths.loginSession = [session = machine.session] {
        return std::make_unique<SwitchableSession>(session);
    };
    paths.grabRetryInterval = settings.grabRetryInterval;
    paths.cloneAnnounceLimit = settings.cloneAnnounceLimit;
    linux_backend::EvdevEventTapService service(machine.mainQueue, paths, &diagnostics);
    return service.createTap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                             eventMaskBit(kCGEventSystemDefined), std::move(callback));
}

bool bedTapGoesThroughService() {
    return false;
}

} // namespace varnu::bed
