# What `cmake --install` puts in place, and the Debian package `cpack -G DEB`
# makes of it: the programs, the assembler's include folder, the manual
# pages, the editor set-ups, and the desktop entry with its icon and the ROM
# file type, so a file manager opens a ROM in lumacor.
include(GNUInstallDirs)

set(lumacor_programs lumacor lumacor-asm lumacor-dis lumacor-run lumacor-gfx lumacor-sound lumacor-map)
if(TARGET lumacor-debug)
  list(APPEND lumacor_programs lumacor-debug)
endif()
install(TARGETS ${lumacor_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# lumacor-asm finds the includes at ../share/lumacor/include from its own folder.
get_target_property(asm_dir lumacor-asm RUNTIME_OUTPUT_DIRECTORY)
install(DIRECTORY ${asm_dir}/include/ DESTINATION ${CMAKE_INSTALL_DATADIR}/lumacor/include)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/editors/ DESTINATION ${CMAKE_INSTALL_DATADIR}/lumacor/editors
        PATTERN node_modules EXCLUDE)

install(FILES ${PROJECT_SOURCE_DIR}/cmake/desktop/lumacor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/desktop/lumacor.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/desktop/lumacor.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
# Debian's own files of a package: its copyright and its change log.
configure_file(${PROJECT_SOURCE_DIR}/cmake/desktop/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/changelog OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/desktop/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages from each program's --help (help2man, from Debian).
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(pages)
  foreach(program IN LISTS lumacor_programs)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${program}> -DOUTPUT=${page} -P
              ${PROJECT_SOURCE_DIR}/cmake/man.cmake
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/man.cmake
      COMMENT "Writing the manual page of ${program}"
      VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(lumacor_man ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages (scripts/deps.sh installs it)")
endif()

# The Debian package, its dependencies read from the programs by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME lumacor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the lumacor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "emulator of a small 8-bit home computer, with its tools")
set(CPACK_PACKAGE_DESCRIPTION
    "lumacor plays cartridges of a small fictional 8-bit home computer in a\n"
    "window, with sound and game pads. It comes with the machine's assembler,\n"
    "disassembler, headless runner and graphics converter, and a debug adapter\n"
    "for editors that speak the Debug Adapter Protocol.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "lumacor developers <lumacor@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian files emulators under otherosfs; games is for what lives in /usr/games.
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
