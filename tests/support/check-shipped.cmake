# What a studio ships: the launcher within its size, stripped, naming its .debug file
# (which holds the symbols), and free of the C++ runtime's locale machinery that a stream
# or std::filesystem would bring into the static link (about 0.8 MB).
#   cmake -DEXE=Updater.exe -DLIMIT=bytes -DOBJDUMP=... -DNM=... -P check-shipped.cmake
file(SIZE "${EXE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${EXE} has ${size} bytes, more than ${LIMIT}")
endif()
execute_process(COMMAND "${OBJDUMP}" -h "${EXE}" OUTPUT_VARIABLE sections RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT sections MATCHES "\\.gnu_debuglink" OR sections MATCHES "\\.debug_")
  message(FATAL_ERROR "${EXE} is not stripped down to a debug link:\n${sections}")
endif()
execute_process(COMMAND "${NM}" "${EXE}.debug" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT symbols MATCHES "WinMain")
  message(FATAL_ERROR "${EXE}.debug holds no symbols")
endif()
if(symbols MATCHES "money_get")
  message(FATAL_ERROR "${EXE} links the locale machinery: a stream or std::filesystem in the launcher")
endif()
message(STATUS "${EXE}: ${size} bytes (at most ${LIMIT})")
