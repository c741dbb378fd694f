// varnu-devices: the system service that holds the keyboards for the user in front of the seat
// and asks that user's Varnu about each volume key; see DevicesServiceMain.

#include "platform/linux/devices-service/DevicesServiceMain.h"

int main(int argc, char** argv) {
    using namespace varnu::linux_backend::devices;
    return runDevicesService(argc, argv,
                             [](const std::string& seat) { return openLogindSeat(seat); });
}
