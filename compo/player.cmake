# The player side of compo: stream reading, the file survey, worker threads
# with their events and locks, and the sound output.
find_package(Threads REQUIRED)
add_library(compo_player STATIC
  ${CMAKE_CURRENT_LIST_DIR}/mpassert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/streamreader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mp3info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopthread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soundout.cpp
)
target_include_directories(compo_player PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(compo_player PUBLIC id3 platform_core platform_audio Threads::Threads)
