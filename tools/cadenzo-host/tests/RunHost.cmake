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

file(READ ${WORK}/cadenzo.xml actual HEX)
file(READ ${DATA}/expected_after_alarm.xml expected HEX)
if(NOT actual STREQUAL expected)
  file(READ ${WORK}/cadenzo.xml text)
  message(FATAL_ERROR "cadenzo.xml after the Alarm differs from expected_after_alarm.xml:\n${text}")
endif()
