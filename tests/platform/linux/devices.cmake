# The Linux backend's devices: displays, I2C channels, volume keys.
varnu_test(varnu_linux_devices_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/EdidTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DrmConnectorScanTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/I2cDevChannelTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VolumeKeyEventsTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VolumeKeyFilterTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/MainQueueCallbackChannelTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/EvdevCapabilitiesTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/InputPermissionsTest.cpp
    DEPENDS varnu_linux_devices varnu_ddc varnu_sim PkgConfig::LIBEVDEV
)
