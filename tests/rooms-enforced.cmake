# Builds the include probes of tests/CMakeLists.txt, one header each against
# install_run's include path: every ALLOWED header must compile, and every
# DENIED one must fail because the header is not found (a failure for any
# other reason fails the test).
cmake_minimum_required(VERSION 3.25)

foreach(header IN LISTS ALLOWED DENIED)
  string(MAKE_C_IDENTIFIER "rooms_${header}" probe)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --config ${CONFIG} --target ${probe}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REPLACE "." "\\." pattern "${header}")
  if(header IN_LIST ALLOWED AND NOT status EQUAL 0)
    message(FATAL_ERROR "${header} should compile against install_run's include path:\n${output}")
  elseif(header IN_LIST DENIED
         AND (status EQUAL 0 OR NOT output MATCHES "${pattern}'?:? (No such file|file not found)"))
    message(FATAL_ERROR "${header} should not be found on install_run's include path:\n${output}")
  endif()
endforeach()
