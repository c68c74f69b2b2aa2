# Helpers that give every module the same warnings, test registration and Qt-free check.

set(ZS_WARNINGS -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
set_property(GLOBAL PROPERTY ZS_CORE_TARGETS "")

# zs_target_defaults(target): warnings, sanitizers.
function(zs_target_defaults target)
  target_compile_options(${target} PRIVATE ${ZS_WARNINGS})
  if(ZS_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(ZS_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# zs_add_library(name alias [CORE] [SHARED] SOURCES ...): a module library, static unless SHARED.
# CORE marks a target that must never link Qt; the check runs at the end of configuring.
function(zs_add_library name alias)
  cmake_parse_arguments(ARG "CORE;SHARED" "" "SOURCES" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
  else()
    add_library(${name} STATIC ${ARG_SOURCES})
  endif()
  # Hidden by default everywhere: a shared library exports only what its export macro marks,
  # and the static layers linked into it stay its own private copy instead of clashing with
  # the copies in the program and the other libraries.
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  add_library(${alias} ALIAS ${name})
  zs_target_defaults(${name})
  if(ARG_CORE)
    set_property(GLOBAL APPEND PROPERTY ZS_CORE_TARGETS ${name})
  endif()
endfunction()

# zs_add_test(name LABEL label [LABELS more...] [OWN_MAIN] SOURCES ... LIBS ...): one GoogleTest
# binary per module, registered with CTest under the module's label. OWN_MAIN for binaries that
# need a main() of their own (widget tests set QT_QPA_PLATFORM=offscreen before QApplication).
function(zs_add_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "LABEL;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  zs_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zs::testsupport GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} DISCOVERY_TIMEOUT 60)
  # Labels are set by a file that ctest reads after the discovered tests: a list of labels does
  # not survive the discovery script's argument passing.
  set(labels ${ARG_LABEL} ${ARG_LABELS})
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${labels_file}
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS [==[${labels}]==])\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()

function(zs_check_core_has_no_qt)
  get_property(cores GLOBAL PROPERTY ZS_CORE_TARGETS)
  foreach(t ${cores})
    get_target_property(libs ${t} LINK_LIBRARIES)
    get_target_property(ilibs ${t} INTERFACE_LINK_LIBRARIES)
    foreach(l ${libs} ${ilibs})
      if(l MATCHES "^Qt6::")
        message(FATAL_ERROR "core target ${t} links ${l}: the core must stay free of Qt")
      endif()
    endforeach()
  endforeach()
endfunction()

# zs_add_export_check(name LIBRARY target LABEL label ALLOW regex [REQUIRE symbol...]): a test
# that the shared library exports its interface only (cmake/CheckExports.cmake).
function(zs_add_export_check name)
  cmake_parse_arguments(ARG "" "LIBRARY;LABEL;ALLOW" "REQUIRE" ${ARGN})
  list(JOIN ARG_REQUIRE "|" required)
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DLIB=$<TARGET_FILE:${ARG_LIBRARY}> -DNM=${CMAKE_NM} "-DALLOW=${ARG_ALLOW}"
            "-DREQUIRE=${required}" -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT 60)
endfunction()
