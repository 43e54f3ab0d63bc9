# The settings file ("tag.ini") parser and writer.
morvik_add_fuzzer(fuzz_profilefile SOURCES fuzz_profilefile.cpp LIBS platform_core)
