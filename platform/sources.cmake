# The platform layer's sources, one file per job on each side, for certexport and the projects
# built beside it (the fuzzer). The Start-menu program's file is certexport-console.exe's alone.
set(CERTEXPORT_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/texts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pin_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pe_machine.cpp)
if(WIN32)
  list(APPEND CERTEXPORT_PLATFORM_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/windows/module.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/arguments.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/encoding.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/console.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/keys.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/pem_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/certificate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/output.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/double_click.cpp)
  set(CERTEXPORT_START_MENU_SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows/start_menu.cpp)
else()
  list(APPEND CERTEXPORT_PLATFORM_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/posix/module.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/arguments.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/terminal.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/keys.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/pem_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/certificate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/output.cpp)
endif()
