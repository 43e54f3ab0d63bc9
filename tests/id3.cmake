# Tests of the tag library and the command-line tool's tag commands.
morvik_add_test(test_mp3id SOURCES test_mp3id.cpp LIBS id3 platform_core)
