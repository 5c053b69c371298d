# Signed Windows releases: certexport.exe, certexport-console.exe, the installer's uninstaller and
# the installer are signed with SHA-256 by osslsigncode, with the publisher's key on a token through
# its PKCS#11 module. The token's PIN is read from CERTEXPORT_SIGN_PIN by packaging/sign while cpack
# runs, and never by CMake, so it reaches neither the cache nor a file of the build tree. Without
# these settings the packages are the same unsigned bytes as ever. Included by install.cmake after
# install(TARGETS).
set(CERTEXPORT_SIGN_CERT "" CACHE FILEPATH "The publisher's certificate chain (PEM) to sign with")
set(CERTEXPORT_SIGN_KEY "" CACHE STRING "The signing key on a token: pkcs11:token=...;object=...;type=private")
set(CERTEXPORT_SIGN_MODULE "" CACHE FILEPATH "The PKCS#11 module of the token that holds the key")
set(CERTEXPORT_TIMESTAMP_URL "" CACHE STRING "An RFC 3161 time-stamp server for the signatures (optional)")
set(CERTEXPORT_SIGNATURES "" CACHE PATH
  "Signatures taken from a release, attached where the build signs (scripts/check-release)")
if(DEFINED CERTEXPORT_SIGN_PIN)
  unset(CERTEXPORT_SIGN_PIN CACHE)
  message(FATAL_ERROR "The token's PIN is read from the environment variable CERTEXPORT_SIGN_PIN "
    "while cpack runs, never from CMake, which would keep it in CMakeCache.txt")
endif()

set(sign_settings ${CMAKE_BINARY_DIR}/signing/settings)
if(CERTEXPORT_SIGN_CERT OR CERTEXPORT_SIGN_KEY OR CERTEXPORT_SIGN_MODULE)
  if(NOT EXISTS "${CERTEXPORT_SIGN_CERT}" OR NOT EXISTS "${CERTEXPORT_SIGN_MODULE}"
     OR NOT CERTEXPORT_SIGN_KEY MATCHES "^pkcs11:")
    message(FATAL_ERROR "Signing needs CERTEXPORT_SIGN_CERT (a PEM file), CERTEXPORT_SIGN_KEY "
      "(a pkcs11: URI) and CERTEXPORT_SIGN_MODULE (a PKCS#11 module file)")
  endif()
  if(CERTEXPORT_SIGNATURES)
    message(FATAL_ERROR "CERTEXPORT_SIGNATURES attaches a release's signatures: it excludes signing")
  endif()
  set(sign_mode sign)
  set(sign_values "${CERTEXPORT_SIGN_CERT}\n${CERTEXPORT_SIGN_MODULE}\n${CERTEXPORT_SIGN_KEY}\n${CERTEXPORT_TIMESTAMP_URL}")
elseif(CERTEXPORT_SIGNATURES)
  set(sign_mode attach)
  set(sign_values ${CERTEXPORT_SIGNATURES})
else()
  file(REMOVE ${sign_settings})
  return()
endif()
find_program(CERTEXPORT_OSSLSIGNCODE osslsigncode REQUIRED)
# One value a line (a key's URI holds semicolons), so that the hooks below pass two paths alone.
file(WRITE ${sign_settings} "${sign_mode}\n${CERTEXPORT_OSSLSIGNCODE}\n${sign_values}\n")

set(sign ${CMAKE_CURRENT_LIST_DIR}/sign)
# cpack strips the programs as it installs them, so their signatures are made here, on the final
# bytes.
foreach(program certexport.exe certexport-console.exe)
  install(CODE "execute_process(COMMAND \"${sign}\" \"${sign_settings}\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${program}\" COMMAND_ERROR_IS_FATAL ANY)")
endforeach()
# The installer's script signs its uninstaller and itself with these settings.
set(CPACK_CERTEXPORT_SIGN_SETTINGS ${sign_settings})
