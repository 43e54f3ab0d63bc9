# Speed of the editor window on a folder of 5,000 MP3 files (bench/app.sh).
add_executable(bench_app bench_app.cpp)
target_link_libraries(bench_app PRIVATE morvik_app)
