# A fleet end to end (Linux): one ctest test per scenario of launcher/fleet_e2e.py, with
# three real update-servers, serverlist, nginx on the deployment's web host and port, and
# the native launcher.
if(WIN32 OR NOT TARGET serverlist)
  return()
endif()
find_program(VELGRIM_FLEET_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
set(fleet_script ${CMAKE_CURRENT_LIST_DIR}/launcher/fleet_e2e.py)
execute_process(COMMAND ${VELGRIM_FLEET_PYTHON} ${fleet_script} --list
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/launcher
  OUTPUT_VARIABLE fleet_scenarios OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE fleet_list_result)
if(NOT fleet_list_result EQUAL 0)
  message(FATAL_ERROR "cannot list the fleet's end-to-end scenarios")
endif()
string(REPLACE "\n" ";" fleet_scenarios "${fleet_scenarios}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${fleet_script})
set(fleet_env
  VELGRIM_BUILD_DIR=${CMAKE_BINARY_DIR}
  VELGRIM_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  VELGRIM_WEB_HOST=${VELGRIM_WEB_HOST}
  VELGRIM_WEB_PORT=${VELGRIM_WEB_PORT}
  VELGRIM_FALLBACK_SERVER=${VELGRIM_FALLBACK_SERVER}
  VELGRIM_TARGET=linux
  VELGRIM_UPDATER=$<TARGET_FILE:updater>
  VELGRIM_STANDIN=$<TARGET_FILE:velgrim_standin>
  VELGRIM_UPDATE_SERVER=$<TARGET_FILE:update-server>
  VELGRIM_RXPACK=$<TARGET_FILE:rxpack>
  VELGRIM_SERVERLIST=$<TARGET_FILE:serverlist>)
foreach(name ${fleet_scenarios})
  add_test(NAME e2e.fleet.${name}
    COMMAND ${VELGRIM_FLEET_PYTHON} ${fleet_script} ${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/launcher)
  set_tests_properties(e2e.fleet.${name} PROPERTIES
    ENVIRONMENT "${fleet_env}" LABELS e2e TIMEOUT 240 RESOURCE_LOCK velgrim-web-port)
endforeach()
