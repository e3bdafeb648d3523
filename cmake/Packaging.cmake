# Packages of the Windows program: a ZIP and a per-user NSIS installer, both from the install tree.
# The version comes from project() in the top CMakeLists.txt, the one place that holds it.

install(TARGETS Halvane RUNTIME DESTINATION .)
# The client emulator, so anyone can try Halvane without the client; the installer makes it optional.
install(TARGETS clientsim RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

set(CPACK_PACKAGE_NAME Halvane)
set(CPACK_PACKAGE_VENDOR "The Halvane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "One-operator switchboard for a voice/chat client")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Halvane)
set(CPACK_PACKAGE_FILE_NAME Halvane-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_NSIS_EXECUTABLE makensis)
# Our own installer script (per user, no administrator rights); CPack looks for it on the module path.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/packaging)

include(CPack)
