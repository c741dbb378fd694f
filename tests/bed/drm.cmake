# The emulated display hardware: a umockdev DRM/I2C sysfs tree and FUSE i2c-dev nodes on which
# simulated monitors answer. Built when umockdev and libfuse3 are there.
pkg_check_modules(UMOCKDEV QUIET IMPORTED_TARGET umockdev-1.0)
pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3)
find_program(UMOCKDEV_WRAPPER umockdev-wrapper)
if(UMOCKDEV_FOUND AND FUSE3_FOUND AND UMOCKDEV_WRAPPER)
    varnu_library(varnu_bed_drm
        SOURCES
            ${CMAKE_CURRENT_LIST_DIR}/FuseI2cBus.cpp
            ${CMAKE_CURRENT_LIST_DIR}/UmockdevDrmTree.cpp
        DEPENDS varnu_sim PkgConfig::UMOCKDEV PkgConfig::FUSE3
    )
    set(VARNU_BED_RUNNER ${CMAKE_CURRENT_LIST_DIR}/run-in-bed.sh)
endif()
