# The seal codec.
varo_add_fuzzer(codec SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec_fuzzer.cpp LIBS sesseal_objects)
