# The version text the programs print for --version: the project's version
# and, when the source is a git checkout and git is at hand, the commit the
# build was made from (`git describe --always --dirty`). A source tarball, or
# a machine without git, gets the number alone.
#
# The header ${CMAKE_BINARY_DIR}/generated/tonvero/Version.h, included as
# "tonvero/Version.h" by linking tonvero::version, is written again on every
# build by cmake/WriteVersion.cmake, which leaves it untouched while its text
# is the same: a new commit recompiles the files that include it (the
# programs' main files) and nothing else.

find_package(Git QUIET)
set(version_header ${CMAKE_BINARY_DIR}/generated/tonvero/Version.h)
add_custom_target(tonvero-version-header
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DGIT=${GIT_EXECUTABLE}
          -DVERSION=${PROJECT_VERSION} -DTEMPLATE=${CMAKE_CURRENT_LIST_DIR}/Version.h.in
          -DOUTPUT=${version_header} -P ${CMAKE_CURRENT_LIST_DIR}/WriteVersion.cmake
  BYPRODUCTS ${version_header}
  COMMENT "Checking the version text"
  VERBATIM)
add_library(tonvero_version INTERFACE)
add_library(tonvero::version ALIAS tonvero_version)
add_dependencies(tonvero_version tonvero-version-header)
target_include_directories(tonvero_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
