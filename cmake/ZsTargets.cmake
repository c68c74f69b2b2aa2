# Helpers that give every module the same warnings, test registration and Qt-free check.

set(ZS_WARNINGS -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
# The core (every target but the Qt ones) also stays clean of these; Qt's headers do not.
if(ZS_STRICT_WARNINGS)
  list(APPEND ZS_WARNINGS -Wshadow -Wconversion)
endif()
set_property(GLOBAL PROPERTY ZS_CORE_TARGETS "")
# The file naming the PostgreSQL server a CTest run shares (platform/pgtest).
set(ZS_PGTEST_SERVER_FILE ${CMAKE_BINARY_DIR}/pgtest/server)

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
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers ${name})
    set_property(GLOBAL APPEND PROPERTY ZS_FUZZERS "$<TARGET_FILE:${name}> ${ARG_CORPUS}")
  endif()
  add_executable(${name}_replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/FuzzReplayMain.cpp)
  zs_target_defaults(${name}_replay)
  target_link_libraries(${name}_replay PRIVATE ${ARG_LIBS})
  target_include_directories(${name}_replay PRIVATE ${PROJECT_SOURCE_DIR}/cmake)
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

# zs_add_test(name LABEL label [LABELS more...] [OWN_MAIN] [SERIAL] SOURCES ... LIBS ...): one
# GoogleTest binary per module, registered with CTest under the module's label. OWN_MAIN for
# binaries that need a main() of their own (widget tests set QT_QPA_PLATFORM=offscreen before
# QApplication). SERIAL for binaries whose tests must run with no other test beside them.
function(zs_add_test name)
  cmake_parse_arguments(ARG "OWN_MAIN;SERIAL" "LABEL;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
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
  set(properties "LABELS [==[${labels}]==]")
  # A test that times the program against another one runs alone: under the parallel run's load
  # one side could be timed on a busy machine and the other on an idle one.
  if(ARG_SERIAL)
    string(APPEND properties " RUN_SERIAL TRUE")
  endif()
  # Binaries that link the PostgreSQL test support share the run's server (the zs_pg fixture).
  if(zs::pgtest IN_LIST ARG_LIBS)
    string(APPEND properties " FIXTURES_REQUIRED zs_pg"
                             " ENVIRONMENT_MODIFICATION [==[ZS_PGTEST_SERVER=set:${ZS_PGTEST_SERVER_FILE}]==]")
  endif()
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${labels_file}
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${properties})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()

# zs_check_core_has_no_qt(): fails the configure when a CORE target reaches Qt through any link,
# direct or through the libraries it links (private static links, aliases and the
# $<LINK_ONLY:…>/$<LINK_LIBRARY:…> wrappers included). Call it once every target exists.
function(zs_check_core_has_no_qt)
  get_property(cores GLOBAL PROPERTY ZS_CORE_TARGETS)
  foreach(core ${cores})
    set(queue ${core})
    set(seen "")
    string(MAKE_C_IDENTIFIER "${core}" core_id)
    set(path_${core_id} ${core})
    while(queue)
      list(POP_FRONT queue item)
      if(item IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${item})
      string(MAKE_C_IDENTIFIER "${item}" id)
      set(path "${path_${id}}")
      if(item MATCHES "^Qt[0-9]*::|^-lQt[0-9]|(^|/)libQt[0-9]")
        message(FATAL_ERROR "core target ${core} reaches ${item} (${path}): the core must stay free of Qt")
      endif()
      if(NOT TARGET ${item})
        continue()
      endif()
      get_target_property(aliased ${item} ALIASED_TARGET)
      set(links "")
      if(aliased)
        set(links ${aliased})
      else()
        foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
          get_target_property(values ${item} ${property})
          if(values)
            list(APPEND links ${values})
          endif()
        endforeach()
      endif()
      foreach(link IN LISTS links)
        # Cross-folder link markers carry no library.
        if(link MATCHES "^::@")
          continue()
        endif()
        # Unwrap generator expressions: every name inside one counts.
        string(REPLACE "::" "@@" link "${link}")
        string(REGEX REPLACE "[$<>]" "" link "${link}")
        string(REGEX REPLACE "[:,]" ";" link "${link}")
        string(REPLACE "@@" "::" link "${link}")
        foreach(name IN LISTS link)
          string(MAKE_C_IDENTIFIER "${name}" name_id)
          if(name AND NOT DEFINED path_${name_id})
            set(path_${name_id} "${path} -> ${name}")
          endif()
          list(APPEND queue ${name})
        endforeach()
      endforeach()
    endwhile()
    foreach(name ${seen})
      string(MAKE_C_IDENTIFIER "${name}" name_id)
      unset(path_${name_id})
    endforeach()
  endforeach()
endfunction()

# zs_check_sources_listed(folders...): fails the configure when a .cpp file below one of the
# folders belongs to no target, so a file left out of a source list is reported rather than
# silently not built (its tests silently not run). Fuzz targets, built only on request, are
# left out of the check, and so is everything when the Qt parts are not built.
function(zs_check_sources_listed)
  if(NOT ZS_WITH_GUI)
    return()
  endif()
  set(listed "")
  set(dirs ${PROJECT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t ${targets})
      get_target_property(sources ${t} SOURCES)
      get_target_property(source_dir ${t} SOURCE_DIR)
      foreach(s ${sources})
        cmake_path(ABSOLUTE_PATH s BASE_DIRECTORY ${source_dir} NORMALIZE OUTPUT_VARIABLE s)
        list(APPEND listed ${s})
      endforeach()
    endforeach()
  endwhile()
  set(missing "")
  foreach(folder ${ARGN})
    file(GLOB_RECURSE found ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    foreach(f ${found})
      if(NOT f IN_LIST listed AND NOT f MATCHES "/fuzz/|fuzz[^/]*\\.cpp$")
        string(APPEND missing "\n  ${f}")
      endif()
    endforeach()
  endforeach()
  if(missing)
    message(FATAL_ERROR "source files that no target builds (add them to their folder's source list):${missing}")
  endif()
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
