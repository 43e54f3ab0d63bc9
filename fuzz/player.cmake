morvik_add_fuzzer(fuzz_mp3info SOURCES fuzz_mp3info.cpp LIBS compo_player)
