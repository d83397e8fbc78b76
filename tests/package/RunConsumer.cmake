# Installs the built tree into a scratch prefix, then configures, builds and runs a program that
# uses the package the way an application outside this tree would.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
  RESULT_VARIABLE status OUTPUT_QUIET)
if(status)
  message(FATAL_ERROR "install failed: ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package -B ${WORK_DIR}/build
    -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_TYPE=Release
  RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "configuring the consumer failed: ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "building the consumer failed: ${status}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "the consumer failed: ${status}")
endif()
