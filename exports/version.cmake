# Run at every build (cmake -P): writes OUT, a header with the project's
# version and the git commit the sources are at ("unknown" outside a git
# checkout, "-dirty" when a tracked file is modified), and rewrites it only
# when that changed, so that nothing recompiles for nothing.
#   cmake -DSOURCE_DIR=... -DVERSION=... -DOUT=... -P version.cmake
set(commit "unknown")
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --show-toplevel
                OUTPUT_VARIABLE top RESULT_VARIABLE rc
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(rc EQUAL 0)
  file(REAL_PATH "${top}" top)
  file(REAL_PATH "${SOURCE_DIR}" source)
endif()
# Only the sources' own checkout counts, not one they happen to sit in.
if(rc EQUAL 0 AND top STREQUAL source)
  execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=7 HEAD
                  OUTPUT_VARIABLE head RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(rc EQUAL 0 AND head)
    set(commit "${head}")
    execute_process(COMMAND git -C "${SOURCE_DIR}" diff --quiet HEAD --
                    RESULT_VARIABLE modified ERROR_QUIET)
    if(NOT modified EQUAL 0)
      string(APPEND commit "-dirty")
    endif()
  endif()
endif()
set(text "// Written by exports/version.cmake at build time.\n#define UREA_VERSION \"${VERSION}\"\n#define UREA_GIT_COMMIT \"${commit}\"\n")
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
