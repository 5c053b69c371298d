# Runs at install time, when the real prefix is known: links the installed tool's directory to
# OpenSC's module. Debian wants the link relative within one top-level directory, absolute across.
set(tool_dir "${CMAKE_INSTALL_PREFIX}/${certexport_tool_dir}")
string(REGEX MATCH "^/[^/]*" tool_top "${tool_dir}")
string(REGEX MATCH "^/[^/]*" module_top "${certexport_system_module}")
set(target "${certexport_system_module}")
if(tool_top STREQUAL module_top)
  file(RELATIVE_PATH target "${tool_dir}" "${certexport_system_module}")
endif()
set(link "$ENV{DESTDIR}${tool_dir}/opensc-pkcs11.so")
message(STATUS "Installing: ${link} -> ${target}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${tool_dir}")
file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${tool_dir}/opensc-pkcs11.so")
