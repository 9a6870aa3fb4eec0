# Runs the killed-process program on three processes and passes when the
# run ends by itself, soon, with a nonzero status, having said which
# process died, and with no process reporting a completed exchange.
string(TIMESTAMP start "%s")
execute_process(COMMAND ${MPIRUN} -np 3 ${PROGRAM}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
string(TIMESTAMP end "%s")
math(EXPR seconds "${end} - ${start}")
message("run ended after about ${seconds} s with status ${rc}:\n${out}${err}")
if(rc EQUAL 0 OR NOT rc MATCHES "^[0-9]+$")
  message(FATAL_ERROR "the run with a killed process did not end with an error status")
endif()
if("${out}${err}" MATCHES "exchange completed")
  message(FATAL_ERROR "an exchange completed without the killed process")
endif()
if(NOT "${out}${err}" MATCHES "rank 1")
  message(FATAL_ERROR "the run did not say which process ended")
endif()
