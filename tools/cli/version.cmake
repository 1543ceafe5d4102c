# Writes cli_version.h with the project's version and the commit the sources
# come from; run at every build, the header changes only when they do.
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=... -P version.cmake
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(
    COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --always --dirty --abbrev=10
    OUTPUT_VARIABLE commit
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    set(commit "")
  endif()
endif()
# A source tree without git (a release archive) has no commit to name.
if(commit STREQUAL "")
  set(commit "unknown")
endif()
set(text "#pragma once\n#define LUMACOR_VERSION \"${VERSION}\"\n#define LUMACOR_COMMIT \"${commit}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
