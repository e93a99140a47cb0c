# Installation and packages. On Linux and the like: the program, its manual page and documents,
# packed by CPack as a Debian package. On Windows: Quillomat.exe, README.txt (from
# docs/windows.md) and LICENSE.txt, packed as a zip.
#
# Install components:
#   program  the executable, the manual page and the README
#   license  LICENSE, left out of the Debian package, whose copyright file holds the same text
#   debian   copyright and changelog as Debian wants them; only the package installs them

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(QUILLOMAT_SUMMARY "console program that writes one coloured line into a named document")
set(QUILLOMAT_MAINTAINER "Quillomat authors <quillomat@example.org>")

# The licence's own copyright line, e.g. "2026 the Quillomat authors".
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE QUILLOMAT_COPYRIGHT REGEX "^Copyright \\(c\\) " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright \\(c\\) " "" QUILLOMAT_COPYRIGHT "${QUILLOMAT_COPYRIGHT}")
# Files read here are written out again at configure time: a change to them reconfigures.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/windows.md
  ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)

if(WIN32)
  # Notepad before Windows 10 shows a file with bare line feeds as one long line, and takes a
  # UTF-8 file for the ANSI code page unless it starts with a byte order mark.
  # The zip's README is the Windows user's page, not the project's.
  string(ASCII 239 187 191 byte_order_mark)
  foreach(document docs/windows.md:README LICENSE:LICENSE)
    string(REPLACE ":" ";" document "${document}")
    list(GET document 0 source)
    list(GET document 1 stem)
    file(READ ${PROJECT_SOURCE_DIR}/${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${stem}.txt "${byte_order_mark}${text}")
  endforeach()
  # All three files at the top of the zip: Explorer's "Extract all" already makes a folder. The
  # executable goes in as built, already stripped by the Release link.
  install(TARGETS quillomat RUNTIME DESTINATION . COMPONENT program)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
    DESTINATION . COMPONENT program)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  # The documents' folder is named after the program, as its package is, not after the project.
  set(CMAKE_INSTALL_DOCDIR share/doc/quillomat CACHE PATH "Documentation (DATAROOTDIR/doc/quillomat)")
  include(GNUInstallDirs)

  # Where a file lands at install time, in code that install(CODE) runs: under DESTDIR, and under
  # the prefix given then unless the folder is absolute.
  function(quillomat_installed_path variable dir name)
    if(IS_ABSOLUTE "${dir}")
      set(${variable} "\$ENV{DESTDIR}${dir}/${name}" PARENT_SCOPE)
    else()
      set(${variable} "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/${name}" PARENT_SCOPE)
    endif()
  endfunction()

  install(TARGETS quillomat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  # A stripped install (cmake --install --strip, and the package) also drops the compiler's
  # version comment, as Debian's own packaging tools do.
  if(CMAKE_STRIP)
    quillomat_installed_path(program ${CMAKE_INSTALL_BINDIR} $<TARGET_FILE_NAME:quillomat>)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
          \"${program}\" COMMAND_ERROR_IS_FATAL ANY)
      endif()
      " COMPONENT program)
  endif()
  # The README links to the pages and pictures in docs/: they go beside it, so its links work
  # where it is installed as well as in the tree.
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES docs/benchmark.md docs/development.md docs/windows.md docs/welcome.svg
    docs/color-menu.svg docs/farewell.svg DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT program)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT license)

  # Manual pages are installed compressed, as Debian wants them. They are compressed as they are
  # installed, so that an install after building the program alone still finds its page; -n
  # leaves the time out of the header, so the same page always gives the same bytes.
  find_program(QUILLOMAT_GZIP gzip)
  set(man_source ${PROJECT_SOURCE_DIR}/docs/quillomat.1)
  set(man_dir ${CMAKE_INSTALL_MANDIR}/man1)
  if(QUILLOMAT_GZIP)
    install(DIRECTORY DESTINATION ${man_dir} COMPONENT program)
    quillomat_installed_path(page ${man_dir} quillomat.1.gz)
    install(CODE "
      set(page \"${page}\")
      message(STATUS \"Installing: \${page}\")
      execute_process(COMMAND \"${QUILLOMAT_GZIP}\" -9 -n -c \"${man_source}\"
        OUTPUT_FILE \"\${page}\" RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR \"Could not compress ${man_source} into \${page}\")
      endif()
      file(CHMOD \"\${page}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${page}\")
      " COMPONENT program)
  else()
    install(FILES ${man_source} DESTINATION ${man_dir} COMPONENT program)
  endif()

  # Debian's machine-readable copyright file, made from LICENSE: the MIT licence is "Expat" in
  # Debian's names, and its text goes in indented, with " ." for each blank line.
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
  set(license_text "")
  set(past_copyright FALSE)
  foreach(line IN LISTS license_lines)
    if(past_copyright)
      if(line STREQUAL "")
        string(APPEND license_text " .\n")
      else()
        string(APPEND license_text " ${line}\n")
      endif()
    elseif(line MATCHES "^Copyright ")
      set(past_copyright TRUE)
    endif()
  endforeach()
  string(REGEX REPLACE "^ \\.\n" "" license_text "${license_text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: quillomat\n"
    "Upstream-Contact: ${QUILLOMAT_MAINTAINER}\n"
    "\n"
    "Files: *\n"
    "Copyright: ${QUILLOMAT_COPYRIGHT}\n"
    "License: Expat\n"
    "${license_text}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  # A package versioned without a Debian revision is a native one: its changelog is changelog.gz.
  # Its latest entry names the version being packed.
  file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog latest_entry LIMIT_COUNT 1)
  if(NOT latest_entry MATCHES "^quillomat \\(${PROJECT_VERSION}\\) ")
    message(WARNING "cmake/debian/changelog has no entry for ${PROJECT_VERSION} at its top")
  endif()
  if(QUILLOMAT_GZIP)
    execute_process(COMMAND ${QUILLOMAT_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
      OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  # One package of the chosen components, rather than everything installed.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL program debian)
  set(CPACK_DEBIAN_PACKAGE_NAME quillomat)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLOMAT_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION editors)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # CPack puts the summary first, as the synopsis, and indents the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillomat shows a welcome box and waits for the N key, asks for a document
name and creates txt/<name>.txt in the current directory. It offers nine text
colours, reads one line of text echoed in the chosen colour, saves it and says
goodbye.

It runs in any terminal, which it leaves as it found it, and reads its keys
from a pipe or a file as well. A save never leaves a document half-written.")
endif()

set(CPACK_PACKAGE_VENDOR "the Quillomat authors")
set(CPACK_PACKAGE_CONTACT "${QUILLOMAT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${QUILLOMAT_SUMMARY}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# Packed files carry SOURCE_DATE_EPOCH's time, when it is set, and belong to root, whoever packs
# them (CMake 4.3 and later; older ones record the packer's user in a zip).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/source-date-times.cmake)
set(CPACK_ARCHIVE_UID 0)
set(CPACK_ARCHIVE_GID 0)
include(CPack)
