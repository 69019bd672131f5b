# What ships: the version resource of the Windows programs, the man pages,
# the install layout, the Windows packages (CPack: the zip; wixl: the MSI).
# The .deb is made by debhelper over this install layout (debian/,
# scripts/make-deb.sh). Included from the top-level CMakeLists.txt once the
# programs are defined.

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
# them) at build time. Not part of the Windows package. The page's date is
# the commit's (SOURCE_DATE_EPOCH), not the build's.
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
    set(OB310_DATED_ENV)
    if(OB310_SOURCE_DATE_EPOCH)
      set(OB310_DATED_ENV ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${OB310_SOURCE_DATE_EPOCH})
    endif()
    foreach(page ob310_cli.1 ob310_cli_sim.1)
      set(source ${PROJECT_BINARY_DIR}/man/${page}.scd)
      configure_file(${PROJECT_SOURCE_DIR}/docs/${page}.scd ${source} @ONLY)
      add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
        COMMAND ${OB310_DATED_ENV} ${SCDOC_EXECUTABLE} < ${source} > ${page}
        COMMAND ${GZIP_EXECUTABLE} -9 -n -f ${page}
        DEPENDS ${source} WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man VERBATIM)
      list(APPEND OB310_MAN_PAGE_FILES ${PROJECT_BINARY_DIR}/man/${page}.gz)
    endforeach()
    add_custom_target(ob310_man_pages ALL DEPENDS ${OB310_MAN_PAGE_FILES})
  endif()
endif()

# The README that ships: its links point at the names the package gives the
# files (LICENSE.txt in the zip, copyright and the .gz names in the .deb), and
# the developer documentation, which no package holds, is named in words.
option(OB310_DEBIAN_LAYOUT
  "Install for the .deb: debhelper adds the copyright file and the changelogs, and compresses the documents" OFF)
function(ob310_shipped_readme license changelog notices)
  file(READ ${PROJECT_SOURCE_DIR}/README.md text)
  string(REPLACE "[docs/DEVELOPING.md](docs/DEVELOPING.md)"
    "docs/DEVELOPING.md in the source code (${PROJECT_HOMEPAGE_URL})" text "${text}")
  string(REPLACE "[LICENSE](LICENSE)" "[${license}](${license})" text "${text}")
  string(REPLACE "[CHANGELOG.md](CHANGELOG.md)" "[${changelog}](${changelog})" text "${text}")
  string(REPLACE "](packaging/THIRD-PARTY-NOTICES.txt)" "](${notices})" text "${text}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/README.md CONTENT "${text}")
endfunction()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
set(OB310_README ${PROJECT_BINARY_DIR}/generated/README.md)

include(GNUInstallDirs)
if(WIN32)
  # The zip and the MSI: the programs and their documents at the top, scripts
  # and the example file in examples\. Text files keep names Windows opens.
  ob310_shipped_readme(LICENSE.txt CHANGELOG.md THIRD-PARTY-NOTICES.txt)
  install(TARGETS ${OB310_TOOLS} RUNTIME DESTINATION .)
  install(FILES ${OB310_README} CHANGELOG.md packaging/THIRD-PARTY-NOTICES.txt DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES examples/example.ob310 examples/program-station.bat examples/program-station.ps1
    DESTINATION examples)
else()
  set(OB310_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/ob310-cli)
  install(TARGETS ${OB310_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${OB310_MAN_PAGE_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # udev reads rules from /usr/lib/udev/rules.d (and /etc for local changes).
  install(FILES contrib/udev/70-ob310.rules DESTINATION lib/udev/rules.d)
  if(OB310_DEBIAN_LAYOUT)
    ob310_shipped_readme(copyright changelog.gz THIRD-PARTY-NOTICES.txt.gz)
    install(FILES ${OB310_README} packaging/THIRD-PARTY-NOTICES.txt DESTINATION ${OB310_DOC_DIR})
  else()
    ob310_shipped_readme(LICENSE CHANGELOG.md THIRD-PARTY-NOTICES.txt)
    install(FILES ${OB310_README} LICENSE CHANGELOG.md packaging/THIRD-PARTY-NOTICES.txt
      DESTINATION ${OB310_DOC_DIR})
  endif()
  install(FILES examples/example.ob310 DESTINATION ${OB310_DOC_DIR}/examples)
  install(PROGRAMS examples/program-station.sh DESTINATION ${OB310_DOC_DIR}/examples)
endif()

if(WIN32)
  set(CPACK_PACKAGE_NAME ob310-cli)
  set(CPACK_PACKAGE_VENDOR "the ob310_cli authors")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line programmer for the OB310 USB keyboard encoder")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ob310_cli-${PROJECT_VERSION}-win64)
  # The zip's member times are the commit's, not the build's.
  if(OB310_SOURCE_DATE_EPOCH)
    file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake CONTENT
      "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n  set(ENV{SOURCE_DATE_EPOCH} ${OB310_SOURCE_DATE_EPOCH})\nendif()\n")
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
  endif()
  include(CPack)

  # The MSI (target "msi", needs wixl and msibuild from Debian's wixl and
  # msitools): the zip's files, staged by the install step, into
  # Program Files\ob310_cli, and that folder added to the system PATH.
  # wixl has no Environment element, so msibuild adds the table and the two
  # standard actions that write the entry on install and remove it on
  # uninstall: "=-*PATH" sets a system variable and removes the value on
  # uninstall, "[~];" appends to what PATH holds.
  set(OB310_PACKAGE_DIR ${PROJECT_BINARY_DIR} CACHE PATH "Folder the MSI is written to")
  # wixl takes the files by paths relative to the .wxs (msi/stage/...).
  set(OB310_MSI_STAGE ${PROJECT_BINARY_DIR}/msi/stage)
  set(OB310_MSI ${OB310_PACKAGE_DIR}/ob310_cli-${PROJECT_VERSION}-win64.msi)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/ob310_cli.wxs.in
    ${PROJECT_BINARY_DIR}/msi/ob310_cli.wxs @ONLY)
  find_program(WIXL_EXECUTABLE wixl)
  find_program(MSIBUILD_EXECUTABLE msibuild)
  if(WIXL_EXECUTABLE AND MSIBUILD_EXECUTABLE)
    add_custom_target(msi
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${OB310_MSI_STAGE}
      COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${OB310_MSI_STAGE} --strip
      COMMAND ${CMAKE_COMMAND} -E make_directory ${OB310_PACKAGE_DIR}
      COMMAND ${WIXL_EXECUTABLE} -a x64 -o ${OB310_MSI} ${PROJECT_BINARY_DIR}/msi/ob310_cli.wxs
      COMMAND ${MSIBUILD_EXECUTABLE} ${OB310_MSI}
        -q "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)"
        -q "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('PathEntry', '=-*PATH', '[~];[INSTALLDIR]', 'Programs')"
        -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)"
        -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
      DEPENDS ${OB310_TOOLS} ${PROJECT_BINARY_DIR}/msi/ob310_cli.wxs
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/msi
      COMMENT "Building ${OB310_MSI}"
      VERBATIM)
  else()
    add_custom_target(msi
      COMMAND ${CMAKE_COMMAND} -E echo "the MSI needs wixl and msibuild (Debian: apt-get install wixl msitools)"
      COMMAND ${CMAKE_COMMAND} -E false)
  endif()
endif()
