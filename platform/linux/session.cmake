# Session services: PulseAudio outputs, the JSON settings store, XDG autostart, the system
# language, and the termination signals that let the settings be saved on the way out.
varnu_library(varnu_linux_session
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/AtomicFile.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DesktopEntry.cpp
        ${CMAKE_CURRENT_LIST_DIR}/JsonUserDefaults.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LocaleLanguages.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PulseAudioHardware.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SinkClassification.cpp
        ${CMAKE_CURRENT_LIST_DIR}/TerminationSignals.cpp
        ${CMAKE_CURRENT_LIST_DIR}/XdgAutostart.cpp
        ${CMAKE_CURRENT_LIST_DIR}/XdgEnvironment.cpp
    DEPENDS
        varnu_platform
        PkgConfig::LIBPULSE
        nlohmann_json::nlohmann_json
)
