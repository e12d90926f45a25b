# Paths handed to programs that run in the cross-compiling emulator (Wine sees the
# Unix root as drive Z:).
function(mw_native_path out path)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(${out} "Z:${path}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()

# A GoogleTest program whose cases ctest runs one by one under the emulator. PROPERTIES are
# test properties for every case (for example RESOURCE_LOCK for cases that share machine state);
# FILTER is a GoogleTest filter of the cases to register (the others are registered apart).
include(GoogleTest)
function(mw_add_test name)
  cmake_parse_arguments(arg "" "FILTER" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest GTest::gmock GTest::gtest_main)
  set(filter)
  if(arg_FILTER)
    set(filter TEST_FILTER ${arg_FILTER})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${filter}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin PROPERTIES TIMEOUT 120 ${arg_PROPERTIES})
endfunction()
