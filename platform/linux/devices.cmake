# Devices: displays over DRM sysfs, EDID and i2c-dev; volume keys over evdev and uinput.
include(GNUInstallDirs)
set(VARNU_HELP_DIR ${CMAKE_INSTALL_DATADIR}/varnu/help)

varnu_library(varnu_linux_devices
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/Edid.cpp
        ${CMAKE_CURRENT_LIST_DIR}/I2cTransport.cpp
        ${CMAKE_CURRENT_LIST_DIR}/I2cDevReports.cpp
        ${CMAKE_CURRENT_LIST_DIR}/I2cDevChannel.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DrmConnectorScan.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DdcBusProbe.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DrmHotplugWatch.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DrmDisplays.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VolumeKeyEvents.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ModifierTracker.cpp
        ${CMAKE_CURRENT_LIST_DIR}/KeyDecision.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VolumeKeyFilter.cpp
        ${CMAKE_CURRENT_LIST_DIR}/MainQueueCallbackChannel.cpp
        ${CMAKE_CURRENT_LIST_DIR}/EvdevCapabilities.cpp
        ${CMAKE_CURRENT_LIST_DIR}/EvdevDevice.cpp
        ${CMAKE_CURRENT_LIST_DIR}/InputDeviceList.cpp
        ${CMAKE_CURRENT_LIST_DIR}/InputPermissions.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LoginSession.cpp
        ${CMAKE_CURRENT_LIST_DIR}/EvdevEventTap.cpp
    DEPENDS varnu_platform varnu_ddc PkgConfig::LIBEVDEV PkgConfig::LIBUDEV PkgConfig::LIBSYSTEMD
)
target_compile_definitions(varnu_linux_devices PUBLIC
    VARNU_PERMISSIONS_HELP_PAGE="${CMAKE_INSTALL_FULL_DATADIR}/varnu/help/permissions.html"
    VARNU_SOURCE_PERMISSIONS_HELP_PAGE="${PROJECT_SOURCE_DIR}/packaging/help/permissions.html")

# The page the permission link and the trust check's message point to.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/help/permissions.html DESTINATION ${VARNU_HELP_DIR})

# Where udev reads its rules when Varnu is installed under /usr; point this elsewhere (e.g.
# /etc/udev/rules.d) for another prefix.
set(VARNU_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING "Where the udev rules are installed")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/60-varnu.rules
    DESTINATION ${VARNU_UDEV_RULES_DIR})
