# The provider: its text helpers, its OES exports on signatures and seals
# (the codec comes from the installed tree), and its handling of what the
# signing service sends and leaves behind.
varo_add_fuzzer(provider_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/provider_text_fuzzer.cpp
    LIBS oesprovider_objects)
varo_add_fuzzer(provider_oes SOURCES ${CMAKE_CURRENT_LIST_DIR}/provider_oes_fuzzer.cpp
    LIBS oesprovider_objects LOCKS tmpfiles port9990 NEEDS_TREE)
varo_add_fuzzer(service_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_reply_fuzzer.cpp
    LIBS oesprovider_objects)
