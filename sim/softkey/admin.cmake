# Provisioning operations (used by the softkey command and by tests).
add_library(varo_softkey_admin STATIC admin/softkey_admin.cpp)
target_include_directories(varo_softkey_admin PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/admin/include)
# The store's meter (meter.h) is part of what callers use.
target_link_libraries(varo_softkey_admin PUBLIC varo_common varo_softkey_store PRIVATE varo_pki)

# The softkey command.
add_executable(softkey cli/softkey_main.cpp cli/convert_key.cpp)
# convert runs the installed key driver, loaded by its path.
target_link_libraries(softkey PRIVATE varo_softkey_admin varo_driver_interface)
# The driver's class, for the reason a conversion leaves in its LastError.
target_include_directories(softkey PRIVATE ${CMAKE_SOURCE_DIR}/driver/include)
install(TARGETS softkey RUNTIME DESTINATION bin COMPONENT standins)
