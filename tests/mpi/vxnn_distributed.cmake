# `vxnn train --distributed` and `vxnn score --distributed` started by
# scripts/mpirun.sh on NP processes, against the same commands on one
# process. MODE:
#   train    the saved model is the one-process model (but for its
#            processor times), in memory and spilled to temporary files, and
#            only the first process writes
#   score    the predictions are the one-process predictions, byte for byte,
#            to a file and to standard output
#   missing  the data file missing on the last process, then on the first:
#            the run ends soon with one error line and no model file
#   killed   the last process killed while the others train: the run ends
#            soon with an error and no model file
# WITH_RBF also runs the RBF network and --network auto rows of train.
set(work ${WORK}/np${NP}-${MODE})
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})

function(run_checked)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc
    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nended with ${rc}:\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

run_checked(${CHECK} data d.csv 1500)
set(train_args train d.csv --target y --threads 1 --no-progress)
set(mpirun ${MPIRUN} -np ${NP} ${VXNN})

if(MODE STREQUAL "train")
  # One row per case: its options, "|" between the options of a case.
  set(cases "--hidden-units|6|--max-data-passes|40"
    "--hidden-units|6|--max-data-passes|40|--memory-budget|100"
    "--test-fraction|0|--hidden-units|4|--max-data-passes|20")
  if(WITH_RBF)
    list(APPEND cases "--network|rbf" "--network|auto|--max-data-passes|30")
  endif()
  foreach(case IN LISTS cases)
    string(REPLACE "|" " " shown "${case}")
    string(REPLACE "|" ";" options "${case}")
    file(REMOVE ${work}/one.model ${work}/np.model)
    run_checked(${VXNN} ${train_args} ${options} --model one.model)
    run_checked(${mpirun} ${train_args} ${options} --model np.model --distributed)
    foreach(said "Data: d.csv" "Model saved to")
      string(REGEX MATCHALL "${said}" found "${out}")
      list(LENGTH found times)
      if(NOT times EQUAL 1)
        message(FATAL_ERROR "${shown}: ${times} summaries on ${NP} processes, not one:\n${out}")
      endif()
    endforeach()
    run_checked(${CHECK} same-model one.model np.model)
    message("${shown}: ${out}")
  endforeach()
elseif(MODE STREQUAL "score")
  run_checked(${VXNN} ${train_args} --hidden-units 6 --max-data-passes 20 --model one.model)
  # Several pieces of 4096 rows, so that every process scores some.
  run_checked(${CHECK} data many.csv 20000)
  run_checked(${VXNN} score one.model many.csv -o one.csv)
  set(one_err "${err}")
  run_checked(${mpirun} score one.model many.csv -o np.csv --threads 1 --distributed)
  if(NOT err STREQUAL one_err)
    message(FATAL_ERROR "the messages differ:\n${one_err}\n${err}")
  endif()
  run_checked(${mpirun} score one.model many.csv --distributed)
  file(WRITE ${work}/np-stdout.csv "${out}")
  foreach(written np.csv np-stdout.csv)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files one.csv ${written}
      WORKING_DIRECTORY ${work} RESULT_VARIABLE differ)
    if(differ)
      message(FATAL_ERROR "${written} differs from the one-process predictions")
    endif()
  endforeach()
elseif(MODE STREQUAL "missing")
  # Each process of an MPMD run gets its own command line.
  math(EXPR others "${NP} - 1")
  set(good ${VXNN} ${train_args} --hidden-units 6 --model np.model --distributed)
  set(bad ${VXNN} train absent.csv --target y --threads 1 --model np.model --distributed)
  foreach(order last first)
    if(order STREQUAL "last")
      set(command ${MPIRUN} -np ${others} ${good} : -np 1 ${bad})
      set(said "vxnn: error: process ${others}: absent.csv: cannot open the file")
    else()
      set(command ${MPIRUN} -np 1 ${bad} : -np ${others} ${good})
      set(said "vxnn: error: absent.csv: cannot open the file")
    endif()
    execute_process(COMMAND ${command} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc
      OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 40)
    if(rc EQUAL 0 OR NOT rc MATCHES "^[0-9]+$")
      message(FATAL_ERROR "missing on the ${order} process: the run ended with ${rc}:\n${out}${err}")
    endif()
    string(REGEX MATCHALL "vxnn: error:[^\n]*" lines "${err}")
    if(NOT lines STREQUAL said)
      message(FATAL_ERROR "missing on the ${order} process: said\n${lines}\nnot\n${said}")
    endif()
    if(EXISTS ${work}/np.model)
      message(FATAL_ERROR "missing on the ${order} process: a model was saved")
    endif()
  endforeach()
elseif(MODE STREQUAL "killed")
  # The last process is started by a shell that kills it after a second;
  # the training would run for a minute.
  math(EXPR others "${NP} - 1")
  set(long ${train_args} --test-fraction 0 --hidden-units 8 --max-data-passes 1000000 --max-time 60
    --error-change 0 --error-ratio 0 --gradient-norm 0 --model np.model --distributed)
  string(REPLACE ";" " " line "${VXNN};${long}")
  string(TIMESTAMP start "%s")
  execute_process(COMMAND ${MPIRUN} -np ${others} ${VXNN} ${long}
    : -np 1 sh -c "${line} & p=$!; sleep 1; kill -9 $p; wait $p"
    WORKING_DIRECTORY ${work} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
    TIMEOUT 40)
  string(TIMESTAMP end "%s")
  math(EXPR seconds "${end} - ${start}")
  message("the run ended after about ${seconds} s with ${rc}")
  if(rc EQUAL 0 OR NOT rc MATCHES "^[0-9]+$")
    message(FATAL_ERROR "the run with a killed process ended with ${rc}:\n${out}${err}")
  endif()
  if(EXISTS ${work}/np.model)
    message(FATAL_ERROR "a model was saved")
  endif()
else()
  message(FATAL_ERROR "unknown MODE ${MODE}")
endif()
