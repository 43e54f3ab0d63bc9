# morvik_public_headers(TARGET FOLDER HEADER...)
# A library exports only the headers it lists: each is linked into
# <build>/include/TARGET/FOLDER/, and <build>/include/TARGET is the library's
# one public include folder. `#include "id3/mp3id.h"` therefore compiles only
# in code that links id3, so the library edges of the architecture are the
# only ones a build can use. tests/check_includes.py checks the same edges
# over the #include lines themselves.
function(morvik_public_headers target folder)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root}/${folder})
  file(MAKE_DIRECTORY ${root}/${folder})
  foreach(header ${ARGN})
    set(source ${CMAKE_CURRENT_SOURCE_DIR}/${header})
    if(NOT EXISTS ${source})
      message(FATAL_ERROR "${target}: public header ${header} does not exist")
    endif()
    file(CREATE_LINK ${source} ${root}/${folder}/${header} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
endfunction()
