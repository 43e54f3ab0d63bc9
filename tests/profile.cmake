# Tests of the settings file class (no window needed, so it also runs in the
# sanitizer builds).
morvik_add_test(test_profilefile SOURCES test_profilefile.cpp LIBS platform_core)
