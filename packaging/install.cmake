# Install layout and packages. The module must lie beside the executable, so the tool goes into
# its own directory with the module (or a link to it) beside it.
if(WIN32)
  install(TARGETS certexport certexport-console RUNTIME DESTINATION .)
  include(${CMAKE_CURRENT_LIST_DIR}/signing.cmake)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/MODULE.txt DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  # The .zip for those who unpack by hand, and the installer (NSIS.template.in), which also
  # places OpenSC's module; makensis comes from Debian's nsis package.
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME certexport-${PROJECT_VERSION}-windows-x64)
  set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE CPACK_CERTEXPORT_COPYRIGHT REGEX "^Copyright ")
else()
  include(GNUInstallDirs)
  # Folders are made 755 whatever the umask, so the package and an install hold the same modes.
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CERTEXPORT_SYSTEM_MODULE "" CACHE FILEPATH "The OpenSC module the installed tool links to")
  if(NOT CERTEXPORT_SYSTEM_MODULE)
    find_file(CERTEXPORT_FOUND_MODULE opensc-pkcs11.so
      PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib64 /usr/lib /usr/local/lib
      NO_DEFAULT_PATH)
    set(CERTEXPORT_SYSTEM_MODULE ${CERTEXPORT_FOUND_MODULE})
  endif()
  if(NOT CERTEXPORT_SYSTEM_MODULE)
    # Packages are built where OpenSC may be missing; Debian's place is the right default.
    set(CERTEXPORT_SYSTEM_MODULE /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/opensc-pkcs11.so)
  endif()
  set(tool_dir ${CMAKE_INSTALL_LIBDIR}/certexport)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    # /usr/lib/certexport whatever the multiarch library directory is.
    set(tool_dir lib/certexport)
  endif()
  set(links ${CMAKE_BINARY_DIR}/install-links)
  file(MAKE_DIRECTORY ${links})
  file(CREATE_LINK ../${tool_dir}/certexport ${links}/certexport SYMBOLIC)
  install(TARGETS certexport RUNTIME DESTINATION ${tool_dir})
  install(CODE "set(certexport_tool_dir \"${tool_dir}\")
set(certexport_system_module \"${CERTEXPORT_SYSTEM_MODULE}\")")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/module-link.cmake)
  install(FILES ${links}/certexport DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The manual pages, English and Japanese, and the changelog go compressed, as Debian has them;
  # -n keeps the bytes the same from build to build.
  set(docs ${CMAKE_BINARY_DIR}/install-docs)
  file(MAKE_DIRECTORY ${docs})
  foreach(doc certexport.1 certexport.ja.1 changelog)
    add_custom_command(OUTPUT ${docs}/${doc}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/${doc} ${docs}/${doc}
      COMMAND gzip -9nf ${docs}/${doc}
      DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${doc})
    list(APPEND compressed_docs ${docs}/${doc}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed_docs})
  install(FILES ${docs}/certexport.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${docs}/certexport.ja.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1
    RENAME certexport.1.gz)
  install(FILES ${docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Debian's machine-readable copyright file, made from LICENSE so that the two never differ.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
  set(license_holder ${CMAKE_MATCH_1})
  string(FIND "${license}" "Permission" start)
  string(SUBSTRING "${license}" ${start} -1 license_text)
  string(STRIP "${license_text}" license_text)
  string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
  string(REPLACE "\n" "\n " license_text " ${license_text}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${docs}/copyright @ONLY)
  install(FILES ${docs}/copyright ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CERTEXPORT_MAINTAINER "certexport contributors <maintainers@certexport.invalid>" CACHE STRING
    "Maintainer of the Debian package: the name and mail address of whoever ships it")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CERTEXPORT_MAINTAINER})
  # The libraries come from dpkg-shlibdeps. The module is loaded at run time, and it loads the
  # PC/SC library at run time, which its package does not depend on: both are named here. A card in
  # a USB reader also needs the PC/SC daemon, which brings the CCID reader driver.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "opensc-pkcs11, libpcsclite1")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pcscd")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
set(CPACK_PACKAGE_NAME certexport)
set(CPACK_PACKAGE_VENDOR "certexport")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Export the signing certificate of a smart card to a PEM file")
set(CPACK_PACKAGE_DESCRIPTION [[certexport reads the signing certificate off a smart card and writes it to a
file as PEM text. It loads OpenSC's PKCS#11 module from its own directory, asks
for confirmation, logs in with the signing PIN, asked for without echo or given
on the command line, and exports the certificate of the card's second PIN slot,
the one the signing PIN guards. It warns before the last try of a PIN that a
card counts, and never sends a PIN that the card reports locked.

It needs OpenSC's PKCS#11 module and a card that OpenSC reads with a
signing-PIN slot.]])
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
# Two builds of a commit give the same packages: they are dated SOURCE_DATE_EPOCH, or the last
# commit's time when it is not set (cpack-per-generator.cmake), and hold their files in name
# order. Each comes with a SHA-256 checksum file to compare against.
set(CPACK_CERTEXPORT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-per-generator.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/reproducible-nsis.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/reproducible-zip.cmake)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
