# cmake --install BUILD --prefix P: the Linux programs in P/bin; the systemd units in
# P/lib/systemd/system, their ExecStart naming P/bin; the velgrim user and folders for
# systemd-sysusers and systemd-tmpfiles in P/lib/sysusers.d and P/lib/tmpfiles.d; the
# nginx snippet, the fleet example and one /etc/default example per service in
# P/share/velgrim. systemd looks in /usr/local/lib and /usr/lib for all three.
if(WIN32)
  return()
endif()
install(TARGETS updater update-server rxpack serverlist RUNTIME DESTINATION bin)
install(FILES deploy/systemd/velgrim.sysusers DESTINATION lib/sysusers.d RENAME velgrim.conf)
install(FILES deploy/systemd/velgrim.tmpfiles DESTINATION lib/tmpfiles.d RENAME velgrim.conf)
install(FILES deploy/nginx/velgrim.conf DESTINATION share/velgrim/nginx)
install(FILES deploy/fleet.txt DESTINATION share/velgrim)
install(FILES deploy/default/velgrim-update-server deploy/default/velgrim-serverlist
        DESTINATION share/velgrim/default)
# The units name the programs where this install puts them: the prefix is known only now.
install(CODE "
  foreach(unit velgrim-update-server.service velgrim-serverlist.service)
    file(READ \"${CMAKE_SOURCE_DIR}/deploy/systemd/\${unit}\" text)
    string(REPLACE \"/usr/local/bin/\" \"\${CMAKE_INSTALL_PREFIX}/bin/\" text \"\${text}\")
    set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
    file(MAKE_DIRECTORY \"\${dir}\")
    message(STATUS \"Installing: \${dir}/\${unit}\")
    file(WRITE \"\${dir}/\${unit}\" \"\${text}\")
  endforeach()
")
