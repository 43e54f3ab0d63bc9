# The settings file ("tag.ini") of the window: plain C++, no Qt.
target_sources(platform_core PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/profilefile.cpp)
