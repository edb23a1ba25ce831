# The reader stand-in's strict checks of a signature and its seal.
varo_add_fuzzer(trust_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/trust_checks_fuzzer.cpp
    LIBS varo_trust_checks varo_pki)
