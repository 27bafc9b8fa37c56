# Helpers that keep each folder's CMakeLists short: one static library per
# folder under src/, one test executable per test file.

# tonvero_library(NAME [DEPS ...]) builds src/NAME/*.cpp into tonvero_NAME,
# aliased tonvero::NAME, with src/ on the include path (headers are included
# as "NAME/Header.h").
function(tonvero_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(tonvero_${name} STATIC ${sources} ${headers})
  add_library(tonvero::${name} ALIAS tonvero_${name})
  target_include_directories(tonvero_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(tonvero_${name} PUBLIC ${ARG_DEPS} PRIVATE tonvero::code_warnings)
endfunction()

# tonvero_gtests(DIR LIBS ...) makes one GoogleTest executable of each
# DIR/*_test.cpp, linked with the given libraries and the shared test support.
function(tonvero_gtests)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(file ${tests})
    get_filename_component(stem ${file} NAME_WE)
    get_filename_component(dir ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    set(target ${dir}_${stem})
    add_executable(${target} ${file})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} tonvero::testsupport
      GTest::gmock GTest::gtest_main tonvero::warnings)
    add_test(NAME ${target} COMMAND ${target})
    # tests/CMakeLists.txt: the sanitizers' options and the offline output.
    tonvero_test_environment(${target} OFFLINE)
  endforeach()
endfunction()
