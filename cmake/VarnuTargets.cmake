# Flags every Varnu target shares.
add_library(varnu_build_flags INTERFACE)
target_compile_options(varnu_build_flags INTERFACE -Wall -Wextra -Wpedantic)
target_include_directories(varnu_build_flags INTERFACE ${PROJECT_SOURCE_DIR})
# Outside Debug builds, the paths that __FILE__ and debug information record are relative to the
# source tree: a packaged program tells nothing of the machine that built it.
target_compile_options(varnu_build_flags INTERFACE
    $<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
    $<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>)
if(VARNU_WERROR)
    target_compile_options(varnu_build_flags INTERFACE -Werror)
endif()
if(VARNU_SANITIZE)
    target_compile_options(varnu_build_flags INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(varnu_build_flags INTERFACE -fsanitize=address,undefined)
endif()
if(VARNU_TSAN)
    target_compile_options(varnu_build_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(varnu_build_flags INTERFACE -fsanitize=thread)
endif()
if(VARNU_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VARNU_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
    endif()
    # Every library gets the coverage the fuzzer steers by; only the fuzz targets link its main.
    target_compile_options(varnu_build_flags INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer -g)
    target_link_options(varnu_build_flags INTERFACE -fsanitize=address,undefined)
endif()

# varnu_library(NAME SOURCES ... DEPENDS ...): a static library of the project.
function(varnu_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC varnu_build_flags ${ARG_DEPENDS})
endfunction()

# varnu_test(NAME SOURCES ... DEPENDS ...): a GoogleTest executable registered with CTest.
function(varnu_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE varnu_build_flags ${ARG_DEPENDS}
        GTest::gmock GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
endfunction()
