# A studio's side of the build (Linux only): the README's shipping configure, and the
# fleet installed into a prefix and checked as systemd would load it.
if(WIN32)
  return()
endif()
set(studio_dir ${CMAKE_CURRENT_LIST_DIR}/studio)
add_test(NAME e2e.studio.readme_build COMMAND bash ${studio_dir}/readme_studio_build.sh)
set_tests_properties(e2e.studio.readme_build PROPERTIES
  ENVIRONMENT "VELGRIM_SOURCE_DIR=${CMAKE_SOURCE_DIR}" LABELS e2e TIMEOUT 300)
if(TARGET serverlist)
  add_test(NAME e2e.studio.fleet_install COMMAND bash ${studio_dir}/fleet_install.sh)
  set_tests_properties(e2e.studio.fleet_install PROPERTIES
    ENVIRONMENT "VELGRIM_BUILD_DIR=${CMAKE_BINARY_DIR}" LABELS e2e TIMEOUT 300)
endif()
