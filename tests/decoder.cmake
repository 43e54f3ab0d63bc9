# Tests of the MPEG audio decoder and `morvik-cli decode`. Whole-file
# conformance and peer comparisons are labelled slow.
morvik_add_test(test_mpegheader SOURCES test_mpegheader.cpp LIBS compo_decoder)
morvik_add_test(test_layer3 SOURCES test_layer3.cpp LIBS compo_decoder)
morvik_add_test(test_conformance SOURCES test_conformance.cpp LIBS compo_decoder LABELS slow)
morvik_add_test(test_peer_decode SOURCES test_peer_decode.cpp LIBS compo_decoder LABELS slow)
morvik_add_test(test_framestepper SOURCES test_framestepper.cpp LIBS compo_decoder)
morvik_add_test(test_layer12 SOURCES test_layer12.cpp LIBS compo_decoder)
