# The core without Qt: the platform library and the formula compiler with
# their tests. This is what the Windows cross build compiles (make
# windows-check), so that the Win32 branches of src/platform and the generated
# code under the Win64 ABI are built and run by CI and not only by users.
# Included from the top-level CMakeLists.txt when KOVRA_CORE_ONLY is on.

enable_testing()

# Debian packages GoogleTest for the host only; libgtest-dev ships its sources,
# which are built here with the cross compiler.
set(KOVRA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build")
if(NOT EXISTS ${KOVRA_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KOVRA_GTEST_SOURCE} (Debian: libgtest-dev)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${KOVRA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

add_subdirectory(src/platform)
add_subdirectory(src/formcomp)
kovra_check_sources(SKIP config link sim record run display app cli)

# Test files that do not apply to this build, by file name:
# - test_serial_device: Linux serial devices (sysfs, device nodes and groups).
set(KOVRA_CORE_SKIP_TESTS test_serial_device CACHE STRING "Test files (without .cpp) left out of the core build")

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # One prefix in the build folder, made once by the first test; quiet, so
  # that a failure's output is the test's own.
  set(KOVRA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(kovra_test_env WINEPREFIX=${KOVRA_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
  add_test(NAME wine_prefix COMMAND ${CMAKE_COMMAND}
    -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR} -DPREFIX=${KOVRA_WINEPREFIX}
    -P ${CMAKE_CURRENT_LIST_DIR}/wine-prefix.cmake)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 240)
endif()

# kovra_add_tests(LIBS lib... [ENV var=value...]): the same interface as the
# full build's (tests/CMakeLists.txt), one test executable per test_*.cpp.
# Each executable is one ctest test: under an emulator every start costs
# far more than a case, so the cases are not listed one by one.
function(kovra_add_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;ENV" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    if(name IN_LIST KOVRA_CORE_SKIP_TESTS)
      continue()
    endif()
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    set(target ${folder}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} kovra_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${target} PRIVATE
      KOVRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      KOVRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES ENVIRONMENT "${kovra_test_env};${ARG_ENV}" TIMEOUT 600)
    if(KOVRA_WINEPREFIX)
      set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED wine)
    endif()
  endforeach()
endfunction()

add_subdirectory(tests/support)
add_subdirectory(tests/formcomp)
add_subdirectory(tests/platform)
