# libzstd. Linux: Debian's libzstd-dev (decoder and encoder). Windows: the decoder only,
# built from Debian's zstd source (scripts/fetch-zstd-source.sh puts it in a cache outside
# the repository) through the source's own single-file script, one C file that builds with
# both mingw compilers: the launcher decodes, and rxpack compresses on Linux only.
#
# Defines the target velgrim_zstd and VELGRIM_ZSTD_ENCODER (ON when the encoder is there).
if(NOT WIN32)
  find_path(VELGRIM_ZSTD_INCLUDE zstd.h REQUIRED)
  find_library(VELGRIM_ZSTD_LIBRARY zstd REQUIRED)
  add_library(velgrim_zstd INTERFACE)
  target_include_directories(velgrim_zstd INTERFACE ${VELGRIM_ZSTD_INCLUDE})
  target_link_libraries(velgrim_zstd INTERFACE ${VELGRIM_ZSTD_LIBRARY})
  set(VELGRIM_ZSTD_ENCODER ON)
  return()
endif()

set(VELGRIM_ZSTD_SOURCE "" CACHE PATH "Debian's zstd source tree (scripts/fetch-zstd-source.sh)")
if(NOT VELGRIM_ZSTD_SOURCE)
  if(DEFINED ENV{VELGRIM_DEPS_CACHE})
    set(zstd_cache $ENV{VELGRIM_DEPS_CACHE})
  else()
    set(zstd_cache $ENV{HOME}/.cache/velgrim-deps)
  endif()
  file(GLOB zstd_trees LIST_DIRECTORIES true ${zstd_cache}/libzstd-*)
  list(SORT zstd_trees COMPARE NATURAL ORDER DESCENDING)
  foreach(tree ${zstd_trees})
    if(EXISTS ${tree}/build/single_file_libs/zstddeclib-in.c)
      set(VELGRIM_ZSTD_SOURCE ${tree} CACHE PATH "Debian's zstd source tree" FORCE)
      break()
    endif()
  endforeach()
endif()
if(NOT EXISTS ${VELGRIM_ZSTD_SOURCE}/build/single_file_libs/zstddeclib-in.c)
  message(FATAL_ERROR "No zstd source for the Windows build: run scripts/install-deps.sh (it runs "
                      "scripts/fetch-zstd-source.sh) or set VELGRIM_ZSTD_SOURCE")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(zstd_single ${VELGRIM_ZSTD_SOURCE}/build/single_file_libs)
set(zstd_out ${CMAKE_BINARY_DIR}/zstd)
add_custom_command(
  OUTPUT ${zstd_out}/zstddeclib.c ${zstd_out}/zstd.h ${zstd_out}/zstd_errors.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${zstd_out}
  COMMAND ${Python3_EXECUTABLE} ${zstd_single}/combine.py -r ${VELGRIM_ZSTD_SOURCE}/lib -x legacy/zstd_legacy.h
          -o ${zstd_out}/zstddeclib.c ${zstd_single}/zstddeclib-in.c
  COMMAND ${CMAKE_COMMAND} -E copy ${VELGRIM_ZSTD_SOURCE}/lib/zstd.h ${VELGRIM_ZSTD_SOURCE}/lib/zstd_errors.h
          ${zstd_out}/
  DEPENDS ${zstd_single}/zstddeclib-in.c ${zstd_single}/combine.py
  WORKING_DIRECTORY ${zstd_single}
  COMMENT "zstd: the single-file decoder from ${VELGRIM_ZSTD_SOURCE}"
  VERBATIM)
add_library(velgrim_zstd STATIC ${zstd_out}/zstddeclib.c)
target_include_directories(velgrim_zstd SYSTEM PUBLIC ${zstd_out})
# The script's input sets what the launcher wants: no legacy formats, no assembly, no
# error strings.
set_target_properties(velgrim_zstd PROPERTIES LINKER_LANGUAGE C)
# The 32-bit launcher has the tighter size bar: one Huffman decoder, one sequence decoder,
# nothing inlined (about half the decoder's size, at some speed).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(velgrim_zstd PRIVATE HUF_FORCE_DECOMPRESS_X1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT
                                                  ZSTD_NO_INLINE)
endif()
set(VELGRIM_ZSTD_ENCODER OFF)
