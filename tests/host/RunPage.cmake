# Runs one page through the host and checks the exit code and the output against the test's
# expectations (see pl5_page_test).
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
# Host options; @PHP_PORT@ and @RECORD_PORT@ stand for the receiver's and the recording server's
# ports of tests/servers/with_servers.sh, @NET_PUBLIC@ and @NET_PRIVATE@ for the addresses of
# tests/servers/with_netns.sh.
set(host_args "")
if(DEFINED HOST_ARGS)
  string(REPLACE "@PHP_PORT@" "$ENV{PL5_PHP_PORT}" expanded "${HOST_ARGS}")
  string(REPLACE "@RECORD_PORT@" "$ENV{PL5_RECORD_PORT}" expanded "${expanded}")
  string(REPLACE "@NET_PUBLIC@" "$ENV{PL5_NET_PUBLIC}" expanded "${expanded}")
  string(REPLACE "@NET_PRIVATE@" "$ENV{PL5_NET_PRIVATE}" expanded "${expanded}")
  separate_arguments(host_args UNIX_COMMAND "${expanded}")
endif()
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
