# The DoIt plug-ins: the offline plug-in's merging of a driver's list, the
# online plug-in's request and reply handling (their sources, without their
# DoIt), and the key-info plug-in's DoIt against the installed tree.
set(plugins_dir ${CMAKE_CURRENT_LIST_DIR}/../plugins)
add_library(varo_fuzz_plugin_headers INTERFACE)
target_include_directories(varo_fuzz_plugin_headers INTERFACE
    ${plugins_dir}/offline_list/src ${plugins_dir}/online_list/src ${plugins_dir}/key_info/include)
varo_add_fuzzer(plugins
                SOURCES ${CMAKE_CURRENT_LIST_DIR}/plugins_fuzzer.cpp
                        ${plugins_dir}/offline_list/src/seal_list.cpp
                        ${plugins_dir}/online_list/src/seal_list_exchange.cpp
                        ${plugins_dir}/key_info/src/key_info.cpp
                        ${plugins_dir}/key_info/src/json_value.cpp
                LIBS varo_fuzz_plugin_headers varo_driver_interface varo_common
                     varo_softkey_admin Qt5::Core
                LOCKS tmpfiles NEEDS_TREE)
