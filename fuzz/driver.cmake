# The key device driver: its index and list texts, and its seal store read
# over a software key (the vendor library, the codec and the tool library
# are loaded from the installed tree; the store directory is the tree's).
varo_add_fuzzer(driver_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_json_fuzzer.cpp
                LIBS driver_objects)
varo_add_fuzzer(driver_store SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_store_fuzzer.cpp
                LIBS driver_objects varo_softkey_admin varo_softkey_store
                LOCKS tmpfiles NEEDS_TREE)
