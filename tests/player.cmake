# Tests of the player's building blocks. Threaded units carry the `threads`
# label so the ThreadSanitizer build runs them.
morvik_add_test(test_streamreader SOURCES test_streamreader.cpp LIBS compo_player platform_core)
morvik_add_test(test_mp3info SOURCES test_mp3info.cpp LIBS compo_player id3 platform_core)
morvik_add_test(test_loopthread SOURCES test_loopthread.cpp LIBS compo_player LABELS threads TIMEOUT 120)
morvik_add_test(test_soundout SOURCES test_soundout.cpp LIBS compo_player platform_audio LABELS threads TIMEOUT 120)
