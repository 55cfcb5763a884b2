# Cross build for Windows (x86_64), for the 64-bit shell.
set(TESSERA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Tests of this architecture run under Wine's 64-bit loader.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
