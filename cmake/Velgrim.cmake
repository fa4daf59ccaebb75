# Shared build settings: warnings for our own targets, sanitizers, static Windows links.

set(VELGRIM_WARNINGS -Wall -Wextra -Werror)

if(VELGRIM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VELGRIM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELGRIM_FUZZ needs clang (use the 'fuzz' preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # No mingw runtime DLLs next to the binaries.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # What players download: every function in a section of its own, so the link drops what
  # no one calls (not each datum: mingw then stores zero-filled arrays in the file), and
  # debug information for crash addresses, split off into a .debug file beside each
  # launcher (velgrim_add_launcher).
  add_compile_options(-ffunction-sections -g)
  add_link_options(-Wl,--gc-sections)
  # -Os: the launcher waits on the network and the disk, and faster code only makes the
  # download larger. The one loop over every byte (the CRC) keeps -O2 (src/CMakeLists.txt).
  foreach(lang C CXX)
    string(REGEX REPLACE "-O[0-9s]" "-Os" CMAKE_${lang}_FLAGS_RELEASE "${CMAKE_${lang}_FLAGS_RELEASE}")
  endforeach()
endif()

# __FILE__ relative to src/ (e.g. "net/net_client.cpp"), as the trace log prints it; the
# debug information names sources from the top of the tree, wherever it was built.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/src/= -fdebug-prefix-map=${CMAKE_SOURCE_DIR}/=)

# Our own targets get the warnings as errors; third-party code (GoogleTest) does not.
function(velgrim_target_defaults target)
  target_compile_options(${target} PRIVATE ${VELGRIM_WARNINGS})
endfunction()

# Runs a program of this build as a test: natively, or under wine64 for the Windows build.
if(WIN32)
  find_program(VELGRIM_WINE wine64 PATHS /usr/lib/wine /usr/bin NO_DEFAULT_PATH)
  find_program(VELGRIM_WINE wine64)
  set(VELGRIM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  # No .NET or HTML engine to install, and no DOS subsystem (winevdm, from Wine's 32-bit
  # side): a player's 64-bit Windows has none, so a file that is no Windows program fails
  # to start there instead of running as a DOS one.
  set(VELGRIM_WINE_DLL_OVERRIDES "mscoree,mshtml,winevdm.exe=")
  set(VELGRIM_WINE_ENV
      WINEPREFIX=${VELGRIM_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=${VELGRIM_WINE_DLL_OVERRIDES})
endif()

# The i686 build's tests need a machine that executes 32-bit programs (Wine's 32-bit side).
# velgrim_require_32bit() ties every test of the calling directory, but those labelled
# "static" (they run nothing of the build), to the wine32 fixture, whose probe fails at once
# with the kernel's refusal where 32-bit programs cannot start: no test then waits its
# time-out on a program that could never run. scripts/test.sh asks the same probe first.
function(velgrim_require_32bit)
  if(NOT WIN32 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(t ${tests})
    get_test_property(${t} LABELS labels)
    if(NOT t STREQUAL "wine32.probe" AND NOT "static" IN_LIST labels)
      set_property(TEST ${t} APPEND PROPERTY FIXTURES_REQUIRED wine32)
    endif()
  endforeach()
endfunction()

# velgrim_wine_test(name): runs the test under wine64 in the one shared Wine prefix of this
# build directory, made by the first test that needs it and reused by every later one.
function(velgrim_wine_test name)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "${VELGRIM_WINE_ENV}"
    FIXTURES_REQUIRED wineprefix)
endfunction()

# Adds every folder beside the calling CMakeLists.txt that has a CMakeLists.txt of its own:
# each tool, benchmark or test program lives in its own folder.
function(velgrim_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir ${children})
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
