# Qt part of the platform layer (platform_qt): the folder tree and the hidden
# file list of the window.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_library(platform_qt STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/foldertree.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/foldertree.h
  ${CMAKE_CURRENT_SOURCE_DIR}/filelist.cpp
)
set_target_properties(platform_qt PROPERTIES AUTOMOC ON)
target_include_directories(platform_qt PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(platform_qt PUBLIC platform_core Qt6::Widgets)
