# Writes a program's manual page from its own --help and --version with
# help2man, the one-line description taken from the first sentence of the
# help's first line, gzipped as Debian installs manual pages.
#   cmake -DHELP2MAN=... -DPROGRAM=... -DOUTPUT=NAME.1.gz -P man.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()
string(REGEX MATCH "^[^\n]*" summary "${help}")
string(REGEX REPLACE "[.:;].*$" "" summary "${summary}")
string(SUBSTRING "${summary}" 0 1 first)
string(TOLOWER "${first}" first)
string(SUBSTRING "${summary}" 1 -1 rest)
string(REGEX REPLACE "\\.1\\.gz$" ".1" page "${OUTPUT}")
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --name=${first}${rest} --output=${page} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()
# No time stamp inside the archive, so a rebuild gives the same bytes.
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${page}")
endif()
