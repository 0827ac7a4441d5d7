# One way to declare a library of src/ and one check that nothing under src/
# is left out of the build.
#
# kovra_library(NAME name SOURCES file... [DEPENDS target...])
#   A static library of the listed files of the calling folder (paths relative
#   to it), with src/ as its public include folder and DEPENDS as its public
#   link libraries: what the library's own sources include and call, so that a
#   library that stops needing another says so here.
#
# kovra_program(NAME name SOURCES file... [DEPENDS target...])
#   An executable of src/ declared the same way (private dependencies).
#
# Sources are listed, never globbed: a file added to a folder without being
# added to its list is caught by kovra_check_sources() at configure time
# instead of being built by one machine and not by another.

function(kovra_register_sources)
  foreach(src ${ARGN})
    get_filename_component(abs ${src} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    set_property(GLOBAL APPEND PROPERTY KOVRA_LISTED_SOURCES ${abs})
  endforeach()
endfunction()

# The arguments both take, parsed into ARG_NAME, ARG_SOURCES and ARG_DEPENDS.
macro(kovra_parse_target_arguments what)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPENDS" ${ARGN})
  if(NOT ARG_NAME OR NOT ARG_SOURCES)
    message(FATAL_ERROR "${what}: NAME and SOURCES are required")
  endif()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${what}(${ARG_NAME}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
endmacro()

function(kovra_library)
  kovra_parse_target_arguments(kovra_library ${ARGN})
  add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${ARG_NAME} PUBLIC ${ARG_DEPENDS})
  kovra_register_sources(${ARG_SOURCES})
endfunction()

function(kovra_program)
  kovra_parse_target_arguments(kovra_program ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_DEPENDS})
  kovra_register_sources(${ARG_SOURCES})
endfunction()

# kovra_check_sources([SKIP folder...]): fails the configure when a .cpp under
# src/ is in no library's or program's list. The SKIP folders (relative to
# src/) are the ones this build leaves out on purpose (the display code
# without KOVRA_GUI, say); a file in any other folder, a new folder included,
# has to be listed.
function(kovra_check_sources)
  cmake_parse_arguments(ARG "" "" "SKIP" ${ARGN})
  file(GLOB_RECURSE all_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp)
  get_property(listed GLOBAL PROPERTY KOVRA_LISTED_SOURCES)
  set(unlisted)
  foreach(src ${all_sources})
    if(src IN_LIST listed)
      continue()
    endif()
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/src ${src})
    set(skipped FALSE)
    foreach(dir ${ARG_SKIP})
      string(FIND "${rel}" "${dir}/" at)
      if(at EQUAL 0)
        set(skipped TRUE)
      endif()
    endforeach()
    if(NOT skipped)
      list(APPEND unlisted "src/${rel}")
    endif()
  endforeach()
  if(unlisted)
    list(JOIN unlisted "\n  " text)
    message(FATAL_ERROR "Source files in no library or program (add each to the SOURCES of its "
      "folder's CMakeLists.txt):\n  ${text}")
  endif()
endfunction()
