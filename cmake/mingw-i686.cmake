# Cross build for Windows (i686), the product.
set(TESSERA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Tests of this architecture run under Wine's 32-bit loader.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run --i686)
