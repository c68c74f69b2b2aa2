# Runs cadenzo-host on a copy of due_store.xml with no start delay and checks the Alarm and the
# rewritten store. Arguments: HOST, DATA (fixtures), WORK (scratch folder).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY_FILE ${DATA}/due_store.xml ${WORK}/cadenzo.xml)

# One poll is 10 seconds; 15 leaves room for start-up but not for a second poll.
execute_process(COMMAND ${HOST} --path ${WORK} --delay 0 --alarms 1 --timeout-ms 15000
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 45)
message(STATUS "host output:\n${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cadenzo-host ended with ${rc}")
endif()
if(NOT out MATCHES "Alarm: Estrazione ed Elaborazione\\.\n")
  message(FATAL_ERROR "no Alarm for the due operation")
endif()
if(out MATCHES "Alarm: Elaborazione dati")
  message(FATAL_ERROR "the operation in the future fell due")
endif()

# The operation dated 2000 missed every occurrence since: its one Alarm moves it onto the
# first 06:30 after now, today's or tomorrow's (the host runs on the real clock).
string(TIMESTAMP now_epoch "%s")
math(EXPR tomorrow_epoch "${now_epoch} + 86400")
string(TIMESTAMP today "%d/%m/%Y")
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${tomorrow_epoch})
string(TIMESTAMP tomorrow "%d/%m/%Y")
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")

file(READ ${WORK}/cadenzo.xml actual HEX)
file(READ ${DATA}/expected_after_alarm.xml template HEX)
string(HEX "@NEXT@" placeholder)
set(matched FALSE)
foreach(next ${today} ${tomorrow})
  string(HEX "${next}" next_hex)
  string(REPLACE "${placeholder}" "${next_hex}" expected "${template}")
  if(actual STREQUAL expected)
    set(matched TRUE)
  endif()
endforeach()
if(NOT matched)
  file(READ ${WORK}/cadenzo.xml text)
  message(FATAL_ERROR "cadenzo.xml after the Alarm differs from expected_after_alarm.xml with the next 06:30 "
                      "(${today} or ${tomorrow}):\n${text}")
endif()
