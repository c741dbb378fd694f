varnu_test(varnu_linux_session_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/JsonUserDefaultsTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LocaleLanguagesTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PulseAudioHardwareTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PulseDaemon.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SettingsFileFaultTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SinkClassificationTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/TerminationSignalsTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/XdgAutostartTest.cpp
    DEPENDS varnu_linux_session varnu_settings varnu_sim
)
