# Installs the built libraries into a scratch prefix, then configures, builds
# and runs a small host program that uses find_package(vxneural).
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
set(flags "")
if(SANITIZE)
  set(flags "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined")
endif()
# The host that does not ask for MPI is configured where MPI cannot be
# found, so that it shows it needs none.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/build
  -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix ${flags} -DCMAKE_DISABLE_FIND_PACKAGE_MPI=ON
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "inputs=5")
  message(FATAL_ERROR "consumer failed (${rc}): ${out}")
endif()

# A host of vxneural::mpi, when it was built: found with the mpi component,
# run on two processes.
if(WITH_MPI)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/build-mpi
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DWITH_MPI=ON RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the MPI consumer failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build-mpi --target consumer_mpi
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the MPI consumer failed")
  endif()
  execute_process(COMMAND ${MPIRUN} -np 2 ${WORK_DIR}/build-mpi/consumer_mpi
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "processes=2 ranks=1")
    message(FATAL_ERROR "MPI consumer failed (${rc}): ${out}${err}")
  endif()
endif()
