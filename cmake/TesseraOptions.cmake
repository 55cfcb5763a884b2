# Common compile settings for every target of the project.
option(TESSERA_WERROR "Treat warnings as errors" OFF)
option(TESSERA_SANITIZE "Native build with AddressSanitizer and UBSan" OFF)
option(TESSERA_FUZZ "Build libFuzzer targets (clang only)" OFF)

add_compile_options(-Wall -Wextra)
if(TESSERA_WERROR)
  add_compile_options(-Werror)
endif()

if(WIN32)
  # Deliverables carry no compiler runtime DLLs: everything links statically.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  if(TESSERA_FUZZ)
    # Instrument every library for coverage; the fuzz targets add the driver.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  elseif(TESSERA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# tessera_add_test(NAME SOURCES... LIBS ...): one test program, registered with
# CTest. Windows programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
# Windows test programs run as our programs do, with the UTF-8 code page of
# their manifest; HOST_CODE_PAGE keeps the system's code page for a test that
# stands for a host process (the shell).
function(tessera_add_test name)
  cmake_parse_arguments(T "HOST_CODE_PAGE" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 AND NOT T_HOST_CODE_PAGE AND NOT "${TESSERA_RC}" IN_LIST T_SOURCES)
    list(APPEND T_SOURCES ${CMAKE_SOURCE_DIR}/win32/program_manifest.rc)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/win32)
  target_link_libraries(${name} PRIVATE ${T_LIBS} tessera_test_support GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "TESSERA_CORPUS_INDEX=${CMAKE_BINARY_DIR}/corpus-index.tsv;TESSERA_SOURCE_DIR=${CMAKE_SOURCE_DIR};TESSERA_BINARY_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT 600)
endfunction()
