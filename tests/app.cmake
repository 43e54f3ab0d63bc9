# Tests of the editor window (Qt's offscreen platform), its grid and its
# settings file, and one end-to-end run in a real X server.
find_package(Qt6 REQUIRED COMPONENTS Test)
morvik_add_test(test_ctrlgrid SOURCES test_ctrlgrid.cpp LIBS ctrlgrid Qt6::Test LABELS gui TIMEOUT 60)
morvik_add_test(test_unit1 SOURCES test_unit1.cpp LIBS morvik_app id3 platform_core Qt6::Test LABELS gui TIMEOUT 120)

add_test(NAME e2e_editor
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e_editor.sh $<TARGET_FILE:morvik> $<TARGET_FILE:morvik-cli>)
set_tests_properties(e2e_editor PROPERTIES LABELS "gui" TIMEOUT 120)
