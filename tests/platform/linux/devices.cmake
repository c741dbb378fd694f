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

# The same displays and buses against emulated hardware, through the real system calls.
include(${PROJECT_SOURCE_DIR}/tests/bed/drm.cmake)
if(TARGET varnu_bed_drm AND TARGET varnu-probe)
    # Not varnu_test: it runs inside the bed's runner.
    add_executable(varnu_linux_drm_bed_tests ${CMAKE_CURRENT_LIST_DIR}/DrmDisplaysBedTest.cpp)
    target_link_libraries(varnu_linux_drm_bed_tests PRIVATE varnu_build_flags varnu_linux_devices
        varnu_ddc varnu_bed_drm GTest::gmock GTest::gtest_main)
    target_compile_definitions(varnu_linux_drm_bed_tests PRIVATE
        VARNU_PROBE_PATH="$<TARGET_FILE:varnu-probe>")
    add_dependencies(varnu_linux_drm_bed_tests varnu-probe)
    add_test(NAME varnu_linux_drm_bed_tests
        COMMAND ${VARNU_BED_RUNNER} $<TARGET_FILE:varnu_linux_drm_bed_tests>)
endif()
