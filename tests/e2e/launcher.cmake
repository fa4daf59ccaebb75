# The launcher end to end: one ctest test per scenario of launcher/launcher_e2e.py, run
# against the real update-server and nginx on the deployment's web host and port.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/standin ${CMAKE_CURRENT_BINARY_DIR}/standin)
# The launcher built with its own updater versions 2000 and 2001, for the hand-over.
velgrim_add_launcher(updater_v2000 2000)
velgrim_add_launcher(updater_v2001 2001)
# The launcher that dies at a step of an update (VELGRIM_TEST_CRASH_AT), for the fault tests.
velgrim_add_launcher(updater_crash ${VELGRIM_UPDATER_VERSION}
                     SOURCES ${CMAKE_CURRENT_LIST_DIR}/crash_at/crash_at.cpp)
# The launcher built with a release key of the tests' own, made here as a studio makes its
# key (the openssl command line), for the signed-release scenarios; the scenarios sign with
# its private half. The product `updater` keeps VELGRIM_RELEASE_KEY (none by default).
set(e2e_key_dir ${CMAKE_BINARY_DIR}/e2e-release-key)
if(NOT EXISTS ${e2e_key_dir}/release.pub)
  find_program(VELGRIM_OPENSSL openssl)
  if(NOT VELGRIM_OPENSSL)
    message(FATAL_ERROR "the signed-release tests need the openssl command (apt-get install openssl)")
  endif()
  file(MAKE_DIRECTORY ${e2e_key_dir})
  execute_process(COMMAND ${VELGRIM_OPENSSL} ecparam -name prime256v1 -genkey -noout -out ${e2e_key_dir}/release.key
                  RESULT_VARIABLE key_status OUTPUT_QUIET ERROR_QUIET)
  if(key_status EQUAL 0)
    execute_process(COMMAND ${VELGRIM_OPENSSL} ec -in ${e2e_key_dir}/release.key -pubout
                            -out ${e2e_key_dir}/release.pub.new
                    RESULT_VARIABLE key_status OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT key_status EQUAL 0)
    message(FATAL_ERROR "openssl could not make the tests' release key in ${e2e_key_dir}")
  endif()
  # The public half last: its presence says the pair is whole.
  file(RENAME ${e2e_key_dir}/release.pub.new ${e2e_key_dir}/release.pub)
endif()
# It takes the mirror tests' own certificate authority from VELGRIM_TEST_MIRROR_CA.
velgrim_add_launcher(updater_signed 0 RELEASE_KEY ${e2e_key_dir}/release.pub
                     SOURCES ${CMAKE_CURRENT_LIST_DIR}/mirror_ca/mirror_ca.cpp)

find_program(VELGRIM_E2E_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)

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
  VELGRIM_UPDATER_SIGNED=$<TARGET_FILE:updater_signed>
  VELGRIM_RELEASE_SIGNING_KEY=${e2e_key_dir}/release.key
  VELGRIM_STANDIN=$<TARGET_FILE:velgrim_standin>)
if(WIN32)
  list(APPEND e2e_env
    VELGRIM_TARGET=windows
    VELGRIM_UPDATE_SERVER=${VELGRIM_NATIVE_BUILD_DIR}/tools/update_server/update-server
    VELGRIM_RXPACK=${VELGRIM_NATIVE_BUILD_DIR}/tools/rxpack/rxpack
    VELGRIM_WINE=${VELGRIM_WINE}
    VELGRIM_GUI_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-gui
    WINEDEBUG=-all
    WINEDLLOVERRIDES=${VELGRIM_WINE_DLL_OVERRIDES})
  set(e2e_locks velgrim-web-port wineprefix-gui)
else()
  list(APPEND e2e_env
    VELGRIM_TARGET=linux
    VELGRIM_UPDATE_SERVER=$<TARGET_FILE:update-server>
    VELGRIM_RXPACK=$<TARGET_FILE:rxpack>)
  set(e2e_locks velgrim-web-port)
endif()

# launcher_e2e.py: e2e.launcher.*; resume_e2e.py (broken connections, kept parts): e2e.resume.*;
# store_e2e.py (players at each version, served from the release store): e2e.store.*;
# mirror_e2e.py (packages from nginx + Varnish, the CDN tree's origin and edge): e2e.mirror.*
foreach(group launcher resume store mirror)
  set(e2e_script ${CMAKE_CURRENT_LIST_DIR}/launcher/${group}_e2e.py)
  execute_process(COMMAND ${VELGRIM_E2E_PYTHON} ${e2e_script} --list
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/launcher
    OUTPUT_VARIABLE e2e_scenarios OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE e2e_list_result)
  if(NOT e2e_list_result EQUAL 0)
    message(FATAL_ERROR "cannot list the end-to-end scenarios of ${group}_e2e.py")
  endif()
  string(REPLACE "\n" ";" e2e_scenarios "${e2e_scenarios}")
  # Under Wine the mirror path is shown by the Varnish update and one cut and resume; the
  # rest of its table (HTTPS with the test's own authority among it) runs natively.
  if(WIN32 AND group STREQUAL "mirror")
    list(FILTER e2e_scenarios INCLUDE REGEX "^(through_varnish|cut_and_resume)$")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${e2e_script})
  foreach(name ${e2e_scenarios})
    add_test(NAME e2e.${group}.${name}
      COMMAND ${VELGRIM_E2E_PYTHON} ${e2e_script} ${name}
      WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/launcher)
    set_tests_properties(e2e.${group}.${name} PROPERTIES
      ENVIRONMENT "${e2e_env}" LABELS e2e TIMEOUT 240 RESOURCE_LOCK "${e2e_locks}")
  endforeach()
endforeach()
