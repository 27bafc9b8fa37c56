# Writes the version header (see Version.cmake). Run as a script:
#   cmake -DSOURCE_DIR=... -DGIT=... -DVERSION=... -DTEMPLATE=... -DOUTPUT=... -P WriteVersion.cmake
set(TONVERO_VERSION_TEXT ${VERSION})
# The .git check keeps a tarball unpacked inside some other checkout from
# taking that checkout's commit.
if(GIT AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(
    COMMAND ${GIT} describe --always --dirty
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE git_result
    OUTPUT_VARIABLE git_commit
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  if(git_result EQUAL 0 AND git_commit MATCHES "^[0-9A-Za-z._-]+$")
    set(TONVERO_VERSION_TEXT "${VERSION} (git ${git_commit})")
  endif()
endif()
# configure_file rewrites the header only when its text changes.
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
