# The Debian package: everything `cmake --install` puts under the prefix (configure with
# -DCMAKE_INSTALL_PREFIX=/usr so the help page's compiled-in path matches), its library
# dependencies read from the binaries by dpkg-shlibdeps, and maintainer scripts that set up the
# device service (its user, its socket) and tell udev about the rules. `scripts/package` builds
# it.
set(VARNU_PACKAGE_MAINTAINER "Varnu maintainers <maintainers@varnu.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "volume keys for the speakers built into an external monitor")
set(CPACK_PACKAGE_DESCRIPTION
    "When the current audio output has no volume control of its own, Varnu catches the\n"
    "keyboard's volume keys, sets the monitor's volume over DDC/CI and shows its own overlay.\n"
    "Every other output keeps its usual volume keys.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VARNU_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The maintainer scripts create the device service's user with adduser, enable its socket with
# deb-systemd-helper and take device ACLs back with setfacl (acl).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, init-system-helpers, acl")
# Varnu talks to whichever PulseAudio server the desktop runs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
# postinst and postrm share what they do to the devices the rules cover.
file(READ ${PROJECT_SOURCE_DIR}/packaging/debian/device-access.sh VARNU_DEVICE_ACCESS)
foreach(script postinst postrm)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in
                   ${PROJECT_BINARY_DIR}/packaging/debian/${script} @ONLY)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_BINARY_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
