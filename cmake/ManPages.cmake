# Manual pages for the programs, made at build time by help2man from each
# program's --help text. `tonvero_man_page(TARGET "what it does")` runs the
# built program through help2man into ${CMAKE_BINARY_DIR}/man/TARGET.1, as
# part of the ALL build, and installs the page to share/man/man1. Without
# help2man the build goes on without pages.
#
# The pages carry the release number alone (not the commit), so they only
# change with the program's help text or the project's version.

find_program(HELP2MAN_EXECUTABLE help2man DOC "help2man, which makes the programs' manual pages")
if(NOT HELP2MAN_EXECUTABLE)
  message(STATUS "help2man is missing: the programs' manual pages are not made (scripts/bootstrap installs it)")
else()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
endif()

function(tonvero_man_page target name)
  if(NOT HELP2MAN_EXECUTABLE)
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  # --help and --version need no display; the offscreen platform is there in
  # case a Qt program ever opens one before it reads its command line.
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${HELP2MAN_EXECUTABLE} --no-info --name=${name} --version-string=${PROJECT_VERSION}
            --output=${page} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Making the manual page ${target}.1"
    VERBATIM)
  add_custom_target(${target}-man ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set_property(GLOBAL APPEND PROPERTY TONVERO_MAN_PAGES ${target})
endfunction()
