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
    # The sanitizers' instrumentation makes g++ report false "maybe uninitialized" warnings (in
    # std::regex and std::function); the normal build keeps that warning.
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                           $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(ZS_FUZZ)
    # Every library the fuzzers link carries libFuzzer's coverage and the sanitizers, so the
    # decoders themselves are seen and checked, not only the entry files.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# zs_add_fuzzer(name LABEL label SOURCES ... LIBS ... CORPUS dir REGRESS dir): a libFuzzer
# entry (LLVMFuzzerTestOneInput). Every build replays the kept corpus and the regression inputs
# (inputs that once crashed, kept in the module's tests/data/regress/<name>) through it in CTest (test <name>_replay); with ZS_FUZZ it is also built as the fuzzer <name>,
# listed in <build>/fuzzers.txt with its corpus for scripts/fuzz.
function(zs_add_fuzzer name)
  cmake_parse_arguments(ARG "" "LABEL;CORPUS;REGRESS" "SOURCES;LIBS" ${ARGN})
  if(ZS_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    zs_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers ${name})
    set_property(GLOBAL APPEND PROPERTY ZS_FUZZERS "$<TARGET_FILE:${name}> ${ARG_CORPUS}")
  endif()
  add_executable(${name}_replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/FuzzReplayMain.cpp)
  zs_target_defaults(${name}_replay)
  target_link_libraries(${name}_replay PRIVATE ${ARG_LIBS})
  set(inputs ${ARG_CORPUS})
  if(ARG_REGRESS AND EXISTS ${ARG_REGRESS})
    list(APPEND inputs ${ARG_REGRESS})
  endif()
  add_test(NAME ${name}_replay COMMAND ${name}_replay ${inputs})
  set_tests_properties(${name}_replay PROPERTIES LABELS "${ARG_LABEL};fuzz" TIMEOUT 300)
endfunction()

# Writes <build>/fuzzers.txt: one line per fuzzer, "<binary> <kept corpus folder>".
function(zs_write_fuzzer_list)
  if(ZS_FUZZ)
    get_property(lines GLOBAL PROPERTY ZS_FUZZERS)
    list(JOIN lines "\n" text)
    file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/fuzzers.txt CONTENT "${text}\n")
  endif()
endfunction()

# zs_add_library(name alias [CORE] SOURCES ...): a static module library.
# CORE marks a target that must never link Qt; the check runs at the end of configuring.
function(zs_add_library name alias)
  cmake_parse_arguments(ARG "CORE;SHARED" "" "SOURCES" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  else()
    add_library(${name} STATIC ${ARG_SOURCES})
  endif()
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
