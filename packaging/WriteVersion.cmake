# Writes the version header (cmake -P): the project version, plus the short
# commit id when SOURCE_DIR is the top of a git checkout (a source tree
# unpacked inside some other checkout gets no id). The file is only
# replaced when its text changes, so an unchanged commit rebuilds nothing.
#   -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=...
set(commit "")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE rc ERROR_QUIET)
  if(rc EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" src)
    if(top STREQUAL src)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short HEAD
                      OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                      RESULT_VARIABLE rc ERROR_QUIET)
      if(NOT rc EQUAL 0)
        set(commit "")
      endif()
    endif()
  endif()
endif()

if(commit STREQUAL "")
  set(text "${VERSION}")
else()
  set(text "${VERSION} (commit ${commit})")
endif()
file(WRITE ${OUTPUT}.new
"// Generated at build time from the project version and the checkout.
#pragma once
#define CORVANE_VERSION \"${VERSION}\"
#define CORVANE_COMMIT \"${commit}\"
// What --version prints after the program's name.
#define CORVANE_VERSION_TEXT \"${text}\"
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
