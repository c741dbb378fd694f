# The displays and buses: the real DrmDisplays, I2cDevChannel and varnu-probe against a umockdev
# DRM/I2C sysfs tree and FUSE i2c-dev nodes on which simulated monitors answer. Needs libfuse3,
# and root to mount; runs inside run-in-bed.sh, which also unmounts what a crashed run left.
pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3)
if(NOT FUSE3_FOUND OR NOT TARGET varnu-probe)
    message(STATUS "libfuse3 not found: the display bed is not built")
    return()
endif()

varnu_library(varnu_bed_drm
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/FuseI2cBus.cpp
        ${CMAKE_CURRENT_LIST_DIR}/UmockdevDrmTree.cpp
    DEPENDS varnu_sim PkgConfig::UMOCKDEV PkgConfig::FUSE3
)
add_executable(varnu_drm_bed_tests ${CMAKE_CURRENT_LIST_DIR}/DrmDisplaysBedTest.cpp)
target_link_libraries(varnu_drm_bed_tests PRIVATE varnu_build_flags varnu_linux_devices varnu_ddc
    varnu_bed_drm GTest::gmock GTest::gtest_main)
target_compile_definitions(varnu_drm_bed_tests PRIVATE
    VARNU_PROBE_PATH="$<TARGET_FILE:varnu-probe>")
add_dependencies(varnu_drm_bed_tests varnu-probe)
add_test(NAME varnu_drm_bed_tests
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-in-bed.sh $<TARGET_FILE:varnu_drm_bed_tests>)
