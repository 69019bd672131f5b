# What ships: the version resource of the Windows programs, the man pages,
# the install layout and the packages (CPack: a .deb on Linux, a .zip for
# Windows). Included from the top-level CMakeLists.txt once the programs are
# defined.

set(OB310_TOOLS ob310_cli)
if(TARGET ob310_cli_sim)
  list(APPEND OB310_TOOLS ob310_cli_sim)
endif()

# Windows: a VERSIONINFO resource per program, so the file properties show
# the version without any change to the command line.
if(WIN32)
  enable_language(RC)
  set(OB310_DESCRIPTION_ob310_cli "OB310 keyboard encoder programmer")
  set(OB310_DESCRIPTION_ob310_cli_sim "OB310 keyboard encoder programmer over a simulated OB310")
  foreach(tool ${OB310_TOOLS})
    set(OB310_RC_NAME ${tool})
    set(OB310_RC_DESCRIPTION ${OB310_DESCRIPTION_${tool}})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in
      ${PROJECT_BINARY_DIR}/generated/${tool}_version.rc @ONLY)
    target_sources(${tool} PRIVATE ${PROJECT_BINARY_DIR}/generated/${tool}_version.rc)
  endforeach()
endif()

# Man pages, written in scdoc and turned into roff (gzipped, as Debian keeps
# them) at build time. Not part of the Windows package.
set(OB310_MAN_PAGE_FILES)
if(NOT WIN32 AND NOT OB310_MAN_PAGES STREQUAL "OFF")
  find_program(SCDOC_EXECUTABLE scdoc)
  find_program(GZIP_EXECUTABLE gzip)
  if(NOT SCDOC_EXECUTABLE OR NOT GZIP_EXECUTABLE)
    if(OB310_MAN_PAGES STREQUAL "ON")
      message(FATAL_ERROR "scdoc and gzip are needed for the man pages (Debian: apt-get install scdoc)")
    endif()
    message(STATUS "scdoc not found: the man pages are not built")
  else()
    foreach(page ob310_cli.1 ob310_cli_sim.1)
      set(source ${PROJECT_BINARY_DIR}/man/${page}.scd)
      configure_file(${PROJECT_SOURCE_DIR}/docs/${page}.scd ${source} @ONLY)
      add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
        COMMAND ${SCDOC_EXECUTABLE} < ${source} > ${page}
        COMMAND ${GZIP_EXECUTABLE} -9 -n -f ${page}
        DEPENDS ${source} WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man VERBATIM)
      list(APPEND OB310_MAN_PAGE_FILES ${PROJECT_BINARY_DIR}/man/${page}.gz)
    endforeach()
    add_custom_target(ob310_man_pages ALL DEPENDS ${OB310_MAN_PAGE_FILES})
  endif()
endif()

include(GNUInstallDirs)
if(WIN32)
  # The zip: the programs and their documents at the top, scripts and the
  # example file in examples\. Text files keep names Windows opens.
  install(TARGETS ${OB310_TOOLS} RUNTIME DESTINATION .)
  install(FILES README.md CHANGELOG.md packaging/THIRD-PARTY-NOTICES.txt DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES examples/example.ob310 examples/program-station.bat examples/program-station.ps1
    DESTINATION examples)
else()
  set(OB310_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/ob310-cli)
  install(TARGETS ${OB310_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${OB310_MAN_PAGE_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # udev reads rules from /usr/lib/udev/rules.d (and /etc for local changes).
  install(FILES contrib/udev/70-ob310.rules DESTINATION lib/udev/rules.d)
  install(FILES README.md LICENSE CHANGELOG.md packaging/THIRD-PARTY-NOTICES.txt
    DESTINATION ${OB310_DOC_DIR})
  install(FILES examples/example.ob310 DESTINATION ${OB310_DOC_DIR}/examples)
  install(PROGRAMS examples/program-station.sh DESTINATION ${OB310_DOC_DIR}/examples)
endif()

set(CPACK_PACKAGE_NAME ob310-cli)
set(CPACK_PACKAGE_VENDOR "the ob310_cli authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line programmer for the OB310 USB keyboard encoder")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ob310_cli-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the ob310_cli authors")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # Its short line is CPACK_PACKAGE_DESCRIPTION_SUMMARY.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ob310_cli reads the information of an OB310, erases it, or writes a complete
configuration from an .ob310 text file into it, for production lines and
scripts: no questions, one exit code per run, an optional log line per
success. ob310_cli_sim is the same tool over a simulated OB310.")
  # The programs carry the C++ runtime inside; dpkg-shlibdeps finds what is
  # left (the C library).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
