# Run by cpack on the staged files before it packs them (CPACK_PRE_BUILD_SCRIPTS). The installer
# keeps the times of the files it holds, so they take the packages' date. Its uninstaller deletes
# them in name order: CPack's own list (CPACK_NSIS_DELETE_FILES, which it sets whatever is given)
# follows the order the file system lists them in, which differs between machines. The Windows
# packages hold no folders.
if(CPACK_GENERATOR STREQUAL "NSIS")
  file(GLOB staged RELATIVE "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/*")
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND touch -d @$ENV{SOURCE_DATE_EPOCH} ${staged}
      WORKING_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(CPACK_CERTEXPORT_NSIS_DELETE_FILES "")
  foreach(file IN LISTS staged)
    string(APPEND CPACK_CERTEXPORT_NSIS_DELETE_FILES "  Delete \"$INSTDIR\\${file}\"\n")
  endforeach()
endif()
