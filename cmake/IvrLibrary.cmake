# ivr_library(NAME <target> [LINKS <targets...>])
# One static library per folder, built from every .cpp of the folder; the
# LINKS list is the folder's "builds on" line, so the graph stays visible here.
function(ivr_library)
  cmake_parse_arguments(ARG "" "NAME" "LINKS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_sources)
    add_library(${ARG_NAME} STATIC ${_sources})
    target_link_libraries(${ARG_NAME} PUBLIC ${ARG_LINKS})
    ivr_expose_headers(${ARG_NAME} PUBLIC)
  else()
    add_library(${ARG_NAME} INTERFACE)
    target_link_libraries(${ARG_NAME} INTERFACE ${ARG_LINKS})
    ivr_expose_headers(${ARG_NAME} INTERFACE)
  endif()
endfunction()

# ivr_expose_headers(<target> PUBLIC|INTERFACE)
# Includes are written from the repository root ("agi/KestroAgi.h"), but a
# target must see only its own folder and the folders of what it links. So
# each target gets an include root of its own holding one link to its
# folder, and linking a target is what brings that root along: a file that
# includes a header of a folder its target does not build on fails to build.
function(ivr_expose_headers target scope)
  file(RELATIVE_PATH _folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(_root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(_parent ${_root}/${_folder} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  if(NOT EXISTS ${_root}/${_folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${_root}/${_folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${_root})
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
