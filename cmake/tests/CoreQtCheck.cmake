# Configures the probe project in core-qt/ once per case: every way a core target can reach Qt
# must stop the configure with a message naming the core target and the Qt library; the clean
# case (Qt only above the core) must configure. Arguments: PROBE, MODULES, WORK, GENERATOR.
set(cases clean direct public_static private_static alias_interface whole_archive defined_later library_file)
set(failures "")
foreach(case ${cases})
  file(REMOVE_RECURSE ${WORK}/${case})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${PROBE} -B ${WORK}/${case} -G ${GENERATOR}
                          -DZS_MODULES=${MODULES} -DCASE=${case}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(case STREQUAL "clean")
    if(NOT rc EQUAL 0)
      string(APPEND failures "${case}: the configure failed:\n${err}\n")
    endif()
  elseif(rc EQUAL 0)
    string(APPEND failures "${case}: the configure passed although the core reaches Qt\n")
  elseif(NOT err MATCHES "core target probe_core reaches (Qt6::|/usr/lib/libQt6)")
    string(APPEND failures "${case}: the configure failed for another reason:\n${err}\n")
  else()
    message(STATUS "${case}: refused as expected")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
