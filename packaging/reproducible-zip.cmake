# Run by cpack once it has packed a package (CPACK_POST_BUILD_SCRIPTS). CPack packs a .zip's files
# in the order the file system lists them, which differs between machines: the .zip is packed
# again, the same way, with its files in name order. Its entries hold local times, hence UTC.
if(CPACK_GENERATOR STREQUAL "ZIP")
  file(GLOB_RECURSE files RELATIVE "${CPACK_TOPLEVEL_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/*")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${CMAKE_COMMAND} -E tar cf ${CPACK_PACKAGE_FILES} --format=zip ${files}
    WORKING_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
endif()
