# The reader stand-in's OFD packages.
varo_add_fuzzer(ofd_package SOURCES ${CMAKE_CURRENT_LIST_DIR}/ofd_package_fuzzer.cpp
    LIBS varo_ofd)
