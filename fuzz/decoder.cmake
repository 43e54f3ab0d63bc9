morvik_add_fuzzer(fuzz_decoder SOURCES fuzz_decoder.cpp LIBS compo_decoder)
