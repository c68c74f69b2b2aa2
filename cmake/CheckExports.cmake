# Checks what a shared library exports (nm -D --defined-only): every symbol must match ALLOW,
# none may belong to a platform layer, and every name in REQUIRE (separated by |) must be there.
#   cmake -DLIB=<file> -DNM=<nm> -DALLOW=<regex> -DREQUIRE=<a|b> -P CheckExports.cmake
# Names are demangled; a symbol is judged by its own name (the part before its parameter list),
# so a function taking a platform type (registerClasses(ClassRegistry&)) is no leak.

execute_process(COMMAND ${NM} -D --defined-only -C ${LIB} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()

set(platform "zs::(automation|text|time|xml|fs|db|dblink|process|registry|net|olap|pgtest|testsupport)::|pugi::|sqlite3|^SQL[A-Z]")
# The linker's own markers and the standard library's template instances (vague linkage); in
# sanitizer builds also AddressSanitizer's one-definition markers and the typeinfo of Qt's
# QObjectData that UndefinedBehaviorSanitizer's type checks emit.
set(standard "^(_edata|_end|__bss_start|_init|_fini)$|^([a-z ]+ )?(std|__gnu_cxx)::|^__odr_asan|^QObjectData$")

string(REPLACE "\n" ";" lines "${listing}")
set(names "")
set(bad "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  list(APPEND names "${name}")
  string(REGEX REPLACE "^(typeinfo name for |typeinfo for |vtable for |VTT for |construction vtable for |non-virtual thunk to |virtual thunk to |guard variable for )+" "" own "${name}")
  string(REGEX REPLACE "\\(.*$" "" own "${own}")
  if(own MATCHES "${platform}")
    list(APPEND bad "platform layer: ${name}")
  elseif(NOT own MATCHES "${standard}" AND NOT own MATCHES "${ALLOW}")
    list(APPEND bad "not part of the interface: ${name}")
  endif()
endforeach()

string(REPLACE "|" ";" required "${REQUIRE}")
foreach(req IN LISTS required)
  list(FIND names "${req}" at)
  if(at EQUAL -1)
    list(APPEND bad "missing export: ${req}")
  endif()
endforeach()

list(LENGTH names count)
if(bad)
  list(LENGTH bad nbad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "${LIB}: ${count} exports, ${nbad} wrong:\n  ${text}")
endif()
message(STATUS "${LIB}: ${count} exports, all part of the interface")
