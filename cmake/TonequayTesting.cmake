# GoogleTest for both builds, and one way to register a test executable with CTest.
if(CMAKE_CROSSCOMPILING)
  # No prebuilt GoogleTest for MinGW: build it from the distribution's sources.
  set(GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory("${GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  # The shipped programs' thread model has no std::mutex; GoogleTest's port hook, found first,
  # replaces the one class that needs it, so the tests build with the very same compiler.
  target_include_directories(gtest BEFORE PUBLIC "${PROJECT_SOURCE_DIR}/tests/support")
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Wine runs 32-bit programs only where the kernel runs 32-bit code; elsewhere the 32-bit build
# still compiles every test and the windows64 build runs them.
set(TONEQUAY_CAN_RUN_TESTS ON)
if(CMAKE_CROSSCOMPILING AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  execute_process(COMMAND bash -c ". '${CMAKE_CURRENT_LIST_DIR}/wine-lib.sh' && wine_can_run32"
                  RESULT_VARIABLE wine32Result OUTPUT_QUIET ERROR_QUIET)
  if(NOT wine32Result EQUAL 0)
    set(TONEQUAY_CAN_RUN_TESTS OFF)
    message(STATUS "32-bit Wine cannot run here: Windows tests run in the windows64 build")
  endif()
endif()

# Natively each test case is its own CTest test. Under Wine every process start costs a
# second or more, so the whole executable is one CTest test there.
function(tonequay_add_gtest target)
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  if(NOT TONEQUAY_CAN_RUN_TESTS)
    return()
  elseif(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES TIMEOUT 300 LABELS wine)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30)
  endif()
endfunction()
