target_sources(morvik-cli PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/cmd_decode.cpp)
