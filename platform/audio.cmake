# Wave output over ALSA and thread priorities: the only code that includes
# ALSA and the scheduling headers.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
add_library(platform_audio STATIC
  ${CMAKE_CURRENT_LIST_DIR}/waveout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/threadpriority.cpp
)
target_include_directories(platform_audio PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(platform_audio PRIVATE PkgConfig::ALSA PUBLIC Threads::Threads)
