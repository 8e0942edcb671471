# ivr_library(NAME <target> [LINKS <targets...>])
# One static library per folder, built from every .cpp of the folder; the
# LINKS list is the folder's "builds on" line, so the graph stays visible here.
function(ivr_library)
  cmake_parse_arguments(ARG "" "NAME" "LINKS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_sources)
    add_library(${ARG_NAME} STATIC ${_sources})
    target_link_libraries(${ARG_NAME} PUBLIC ${ARG_LINKS})
  else()
    add_library(${ARG_NAME} INTERFACE)
    target_link_libraries(${ARG_NAME} INTERFACE ${ARG_LINKS})
  endif()
endfunction()

# ivr_test(NAME <target> DIR <tests subfolder> LINKS <targets...>)
# One test program per tests/ subfolder, every .cpp of the folder in it.
function(ivr_test)
  cmake_parse_arguments(ARG "" "NAME;DIR" "LINKS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/*.cpp)
  if(NOT _sources)
    return()
  endif()
  add_executable(${ARG_NAME} ${_sources})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINKS} testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${ARG_NAME} PRIVATE
    IVR_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    IVR_BINARY_DIR="${CMAKE_BINARY_DIR}"
    IVR_TRANSCRIPTS_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures/agi-transcripts")
  gtest_discover_tests(${ARG_NAME}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120)
endfunction()
