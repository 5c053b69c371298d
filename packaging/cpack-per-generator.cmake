# Read by cpack once for each generator: the installer is told from the .zip by its name.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()

# The packages' date: SOURCE_DATE_EPOCH as given, or else the last commit's time. cpack dates the
# archives and their entries with it, and strip the header of the Windows executable.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_CERTEXPORT_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(commit_time)
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  else()
    message(WARNING "Neither SOURCE_DATE_EPOCH nor a commit: the packages carry the build time")
  endif()
endif()
