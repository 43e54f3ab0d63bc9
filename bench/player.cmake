add_executable(bench_player ${CMAKE_CURRENT_LIST_DIR}/bench_player.cpp)
target_link_libraries(bench_player PRIVATE compo_player platform_audio platform_core)
