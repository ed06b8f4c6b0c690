# Install rules and release packages.
#
# `cmake --install <build> --prefix <dir>` lays out exactly the files that the
# package of that build holds, and `cpack --config <build>/CPackConfig.cmake`
# makes the package:
#   Linux:   trelvik_<version>_<arch>.deb, installing under /usr
#   Windows: trelvik-<version>-win64.zip, one folder to unpack anywhere
# The version is the one project() names, the same the usage banner prints.

set(TRELVIK_PACKAGE_MAINTAINER
    "Trelvik maintainers <maintainers@users.noreply.c-seed-cce35211.example>"
    CACHE STRING "Maintainer field of the Linux package")

set(TRELVIK_EXAMPLES ${CMAKE_CURRENT_SOURCE_DIR}/examples)
set(TRELVIK_PACKAGING ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(TRELVIK_GENERATED_DOCS ${CMAKE_CURRENT_BINARY_DIR}/packaging)

if(WIN32)
  # Everything in one folder: trelvik.exe finds the example checker beside it,
  # since Windows looks for a program in the folder of the one starting it.
  set(TRELVIK_BIN_DESTINATION .)
  set(TRELVIK_CHECKER_DESTINATION .)
  set(TRELVIK_DOC_DESTINATION .)
  # Texts for Notepad users: CR LF line ends.
  set(TRELVIK_DOC_NEWLINES CRLF)
else()
  include(GNUInstallDirs)
  set(TRELVIK_BIN_DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The example checker is a program, so it stays out of /usr/share; it is
  # no command of its own either, so it stays off PATH.
  set(TRELVIK_CHECKER_DESTINATION lib/trelvik)
  set(TRELVIK_DOC_DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/trelvik)
  set(TRELVIK_DOC_NEWLINES UNIX)
endif()
set(TRELVIK_EXAMPLES_DESTINATION ${TRELVIK_DOC_DESTINATION}/examples)

# The texts take the version from project() too.
configure_file(README.md ${TRELVIK_GENERATED_DOCS}/README.md @ONLY
               NEWLINE_STYLE ${TRELVIK_DOC_NEWLINES})
configure_file(${TRELVIK_PACKAGING}/TRIGGER.txt.in ${TRELVIK_GENERATED_DOCS}/TRIGGER.txt @ONLY
               NEWLINE_STYLE ${TRELVIK_DOC_NEWLINES})

install(TARGETS trelvik RUNTIME DESTINATION ${TRELVIK_BIN_DESTINATION})
install(TARGETS trelvik-stylecheck RUNTIME DESTINATION ${TRELVIK_CHECKER_DESTINATION})
install(FILES ${TRELVIK_GENERATED_DOCS}/README.md ${TRELVIK_GENERATED_DOCS}/TRIGGER.txt
        DESTINATION ${TRELVIK_DOC_DESTINATION})
# The example commit names its files relative to the folder that holds
# examples/, so the layout below the documentation folder is kept as it is.
install(FILES ${TRELVIK_EXAMPLES}/commit.txt DESTINATION ${TRELVIK_EXAMPLES_DESTINATION})
install(DIRECTORY ${TRELVIK_EXAMPLES}/workspace ${TRELVIK_EXAMPLES}/checker
        DESTINATION ${TRELVIK_EXAMPLES_DESTINATION})

if(NOT WIN32)
  configure_file(${TRELVIK_PACKAGING}/trelvik.1.in ${TRELVIK_GENERATED_DOCS}/trelvik.1 @ONLY)
  find_program(TRELVIK_GZIP gzip REQUIRED)
  # -n leaves out the name and time stamp, so equal pages give equal bytes.
  add_custom_command(
    OUTPUT ${TRELVIK_GENERATED_DOCS}/trelvik.1.gz
    COMMAND ${TRELVIK_GZIP} -9 -n -k -f trelvik.1
    DEPENDS ${TRELVIK_GENERATED_DOCS}/trelvik.1
    WORKING_DIRECTORY ${TRELVIK_GENERATED_DOCS}
    COMMENT "Compressing the manual page"
    VERBATIM)
  # A Debian package carries its change log, compressed the same way.
  configure_file(${TRELVIK_PACKAGING}/changelog.in ${TRELVIK_GENERATED_DOCS}/changelog @ONLY)
  add_custom_command(
    OUTPUT ${TRELVIK_GENERATED_DOCS}/changelog.gz
    COMMAND ${TRELVIK_GZIP} -9 -n -k -f changelog
    DEPENDS ${TRELVIK_GENERATED_DOCS}/changelog
    WORKING_DIRECTORY ${TRELVIK_GENERATED_DOCS}
    COMMENT "Compressing the change log"
    VERBATIM)
  # trelvik-git, the git hook, with its page and its sample .trelvik.
  configure_file(${TRELVIK_PACKAGING}/trelvik-git.1.in ${TRELVIK_GENERATED_DOCS}/trelvik-git.1
                 @ONLY)
  add_custom_command(
    OUTPUT ${TRELVIK_GENERATED_DOCS}/trelvik-git.1.gz
    COMMAND ${TRELVIK_GZIP} -9 -n -k -f trelvik-git.1
    DEPENDS ${TRELVIK_GENERATED_DOCS}/trelvik-git.1
    WORKING_DIRECTORY ${TRELVIK_GENERATED_DOCS}
    COMMENT "Compressing the manual page of trelvik-git"
    VERBATIM)
  add_custom_target(trelvik-manual ALL DEPENDS ${TRELVIK_GENERATED_DOCS}/trelvik.1.gz
                                              ${TRELVIK_GENERATED_DOCS}/trelvik-git.1.gz
                                              ${TRELVIK_GENERATED_DOCS}/changelog.gz)
  install(FILES ${TRELVIK_GENERATED_DOCS}/trelvik.1.gz ${TRELVIK_GENERATED_DOCS}/trelvik-git.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(TARGETS trelvik-git RUNTIME DESTINATION ${TRELVIK_BIN_DESTINATION})
  install(FILES ${TRELVIK_EXAMPLES}/git/.trelvik DESTINATION ${TRELVIK_EXAMPLES_DESTINATION}/git)
  install(FILES ${TRELVIK_PACKAGING}/copyright ${TRELVIK_GENERATED_DOCS}/changelog.gz
          DESTINATION ${TRELVIK_DOC_DESTINATION})
  install(FILES ${TRELVIK_PACKAGING}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME trelvik)
endif()

set(CPACK_PACKAGE_NAME trelvik)
set(CPACK_PACKAGE_VENDOR "Trelvik developers")
set(CPACK_PACKAGE_CONTACT "${TRELVIK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "pre-commit gate that runs a checker on the files of a commit")
set(CPACK_PACKAGE_DESCRIPTION
    "Trelvik is run by a version-control tool as a commit trigger. It pairs every
committed file with its version path, selects the files to check with Ant-style
include and exclude patterns, copies them into a private staging folder, runs a
checker program on them and relays its output. Its exit status lets the commit
through or blocks it. trelvik-git runs it as a git pre-commit hook on exactly
the staged content, without touching the work tree.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME trelvik-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TRELVIK_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The run-time libraries come from dpkg-shlibdeps, which reads what the
  # binaries link against.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
