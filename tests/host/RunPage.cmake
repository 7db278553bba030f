# Runs one page through the host and checks the exit code and the output against the test's
# expectations (see pl5_page_test). HOST_ARGS, if given, go to the host before the page.
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
separate_arguments(host_args UNIX_COMMAND "${HOST_ARGS}")
execute_process(COMMAND ${emulator} ${HOST} --timeout 120 ${host_args} ${PAGE} INPUT_FILE /dev/null
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(NOT err STREQUAL "")
  message("stderr:\n${err}")
endif()
if(NOT "${result}" STREQUAL "${EXPECT_EXIT}")
  message(FATAL_ERROR "the page ended with ${result}, expected ${EXPECT_EXIT}")
endif()
if(NOT EXPECT_STDOUT STREQUAL "" AND NOT out MATCHES "${EXPECT_STDOUT}")
  message(FATAL_ERROR "the output does not match: ${EXPECT_STDOUT}")
endif()
if(NOT EXPECT_STDERR STREQUAL "" AND NOT err MATCHES "${EXPECT_STDERR}")
  message(FATAL_ERROR "the error output does not match: ${EXPECT_STDERR}")
endif()
