# Makes the wine prefix that the Windows tests run in, once: a fresh prefix
# takes wine many seconds to set up, a made one is reused.
#   cmake -DWINE=<wine loader> -DPREFIX=<folder> -P wine-prefix.cmake
if(EXISTS ${PREFIX}/kovra-prefix-ready)
  return()
endif()
set(ENV{WINEPREFIX} ${PREFIX})
set(ENV{WINEDEBUG} -all)
# No Mono or Gecko installer prompts: the tests need neither.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET TIMEOUT 200)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "wine could not make the prefix ${PREFIX} (${rc})")
endif()
file(TOUCH ${PREFIX}/kovra-prefix-ready)
