# The distribution folder build/<arch>/dist: exactly what an installation
# needs -- the deliverables, the license text and the product information
# Setup links to -- and the `package` target, which zips the folder with our
# own tescmd into the file a user downloads (build/<arch>/Tessera-3.0-<arch>.zip).
#
# Included last by the top-level CMakeLists, so every deliverable the
# folders above define is known here; one that is not built (yet) is left out.
set(TESSERA_DELIVERABLES tescore tessera tescmd tesshell tesstub Setup)
set(TESSERA_DIST_DIR ${CMAKE_BINARY_DIR}/dist)

set(distributed)
foreach(deliverable IN LISTS TESSERA_DELIVERABLES)
  if(TARGET ${deliverable})
    set_property(TARGET ${deliverable} PROPERTY RUNTIME_OUTPUT_DIRECTORY ${TESSERA_DIST_DIR})
    list(APPEND distributed ${deliverable})
  endif()
endforeach()

# The i686 build's 64-bit shell extension (dist/x64, see shellext/).
if(TARGET shell_x64)
  list(APPEND distributed shell_x64)
endif()

set(TESSERA_DIST_TEXTS ${CMAKE_SOURCE_DIR}/setup/dist/License.txt ${CMAKE_SOURCE_DIR}/setup/dist/Readme.htm)
set(dist_text_outputs)
foreach(text IN LISTS TESSERA_DIST_TEXTS)
  get_filename_component(name ${text} NAME)
  add_custom_command(OUTPUT ${TESSERA_DIST_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${text} ${TESSERA_DIST_DIR}/${name}
    DEPENDS ${text})
  list(APPEND dist_text_outputs ${TESSERA_DIST_DIR}/${name})
endforeach()
add_custom_target(dist_texts ALL DEPENDS ${dist_text_outputs})

set(TESSERA_PACKAGE ${CMAKE_BINARY_DIR}/Tessera-3.0-${CMAKE_SYSTEM_PROCESSOR}.zip)
add_custom_target(package
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/package ${CMAKE_BINARY_DIR} ${CMAKE_SYSTEM_PROCESSOR} ${TESSERA_PACKAGE}
  BYPRODUCTS ${TESSERA_PACKAGE}
  COMMENT "Zipping the distribution folder into ${TESSERA_PACKAGE}"
  USES_TERMINAL)
add_dependencies(package dist_texts ${distributed})
