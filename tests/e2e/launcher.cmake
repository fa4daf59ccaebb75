# The launcher end to end: one ctest test per scenario of launcher/launcher_e2e.py, run
# against the real update-server and nginx on the deployment's web host and port.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/standin ${CMAKE_CURRENT_BINARY_DIR}/standin)
# The launcher built with its own updater versions 2000 and 2001, for the hand-over.
velgrim_add_launcher(updater_v2000 2000)
velgrim_add_launcher(updater_v2001 2001)
# The launcher that dies at a step of an update (VELGRIM_TEST_CRASH_AT), for the fault tests.
velgrim_add_launcher(updater_crash ${VELGRIM_UPDATER_VERSION} ${CMAKE_CURRENT_LIST_DIR}/crash_at/crash_at.cpp)

find_program(VELGRIM_E2E_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
set(e2e_script ${CMAKE_CURRENT_LIST_DIR}/launcher/launcher_e2e.py)
execute_process(COMMAND ${VELGRIM_E2E_PYTHON} ${e2e_script} --list
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/launcher
  OUTPUT_VARIABLE e2e_scenarios OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE e2e_list_result)

if(NOT e2e_list_result EQUAL 0)
  message(FATAL_ERROR "cannot list the launcher's end-to-end scenarios")
endif()
string(REPLACE "\n" ";" e2e_scenarios "${e2e_scenarios}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${e2e_script})

set(e2e_env
  VELGRIM_BUILD_DIR=${CMAKE_BINARY_DIR}
  VELGRIM_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  VELGRIM_WEB_HOST=${VELGRIM_WEB_HOST}
  VELGRIM_WEB_PORT=${VELGRIM_WEB_PORT}
  VELGRIM_FALLBACK_SERVER=${VELGRIM_FALLBACK_SERVER}
  VELGRIM_UPDATER=$<TARGET_FILE:updater>
  VELGRIM_UPDATER_V2000=$<TARGET_FILE:updater_v2000>
  VELGRIM_UPDATER_V2001=$<TARGET_FILE:updater_v2001>
  VELGRIM_UPDATER_CRASH=$<TARGET_FILE:updater_crash>
  VELGRIM_STANDIN=$<TARGET_FILE:velgrim_standin>)
if(WIN32)
  list(APPEND e2e_env
    VELGRIM_TARGET=windows
    VELGRIM_UPDATE_SERVER=${VELGRIM_NATIVE_BUILD_DIR}/tools/update_server/update-server
    VELGRIM_RXPACK=${VELGRIM_NATIVE_BUILD_DIR}/tools/rxpack/rxpack
    VELGRIM_WINE=${VELGRIM_WINE}
    VELGRIM_GUI_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-gui
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=)
  set(e2e_locks velgrim-web-port wineprefix-gui)
else()
  list(APPEND e2e_env
    VELGRIM_TARGET=linux
    VELGRIM_UPDATE_SERVER=$<TARGET_FILE:update-server>
    VELGRIM_RXPACK=$<TARGET_FILE:rxpack>)
  set(e2e_locks velgrim-web-port)
endif()

foreach(name ${e2e_scenarios})
  add_test(NAME e2e.launcher.${name}
    COMMAND ${VELGRIM_E2E_PYTHON} ${e2e_script} ${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/launcher)
  set_tests_properties(e2e.launcher.${name} PROPERTIES
    ENVIRONMENT "${e2e_env}" LABELS e2e TIMEOUT 240 RESOURCE_LOCK "${e2e_locks}")
endforeach()
