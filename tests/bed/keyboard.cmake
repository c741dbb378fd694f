# The keyboard path: the real evdev tap against emulated keyboards and /dev/uinput.
varnu_bed_test(varnu_keyboard_bed_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/EmulatedEvdevDevice.cpp
        ${CMAKE_CURRENT_LIST_DIR}/EmulatedUinput.cpp
        ${CMAKE_CURRENT_LIST_DIR}/KeyboardBed.cpp
        ${CMAKE_CURRENT_LIST_DIR}/EvdevEventTapBedTest.cpp
    DEPENDS varnu_linux_devices
)
if(TARGET varnu-probe)
    target_compile_definitions(varnu_keyboard_bed_tests PRIVATE
        VARNU_PROBE_PATH="$<TARGET_FILE:varnu-probe>")
    add_dependencies(varnu_keyboard_bed_tests varnu-probe)
endif()
