# The studio's release key for the launcher: the raw P-256 point (X || Y) of a PEM public
# key, written into a C header with the manifest's path on the web host. No key: the
# header says so and the launcher checks nothing.
#
# At configure time: velgrim_release_key_header(KEY_FILE MANIFEST_PATH OUT_HEADER).
# From a shell (tests): cmake -DKEY=release.pub -DMANIFEST_PATH=/m.txt -DOUT=key.h -P ReleaseKey.cmake

function(velgrim_release_key_header key_file manifest_path out_header)
  # The format-2 manifest's path: VELGRIM_MANIFEST2_PATH (MANIFEST2_PATH from a shell).
  set(manifest2_path "/velgrim_release2.txt")
  if(DEFINED VELGRIM_MANIFEST2_PATH)
    set(manifest2_path "${VELGRIM_MANIFEST2_PATH}")
  elseif(DEFINED MANIFEST2_PATH)
    set(manifest2_path "${MANIFEST2_PATH}")
  endif()
  # The format-3 manifest's path: VELGRIM_MANIFEST3_PATH (MANIFEST3_PATH from a shell).
  set(manifest3_path "/velgrim_release3.txt")
  if(DEFINED VELGRIM_MANIFEST3_PATH)
    set(manifest3_path "${VELGRIM_MANIFEST3_PATH}")
  elseif(DEFINED MANIFEST3_PATH)
    set(manifest3_path "${MANIFEST3_PATH}")
  endif()
  if(NOT manifest3_path MATCHES "^/[!-~]*$")
    message(FATAL_ERROR "VELGRIM_MANIFEST3_PATH must start with '/' and hold no blanks or control characters, "
                        "not '${manifest3_path}'")
  endif()
  if(NOT manifest_path MATCHES "^/[!-~]*$")
    message(FATAL_ERROR "VELGRIM_MANIFEST_PATH must start with '/' and hold no blanks or control characters, "
                        "not '${manifest_path}'")
  endif()
  if(NOT manifest2_path MATCHES "^/[!-~]*$")
    message(FATAL_ERROR "VELGRIM_MANIFEST2_PATH must start with '/' and hold no blanks or control characters, "
                        "not '${manifest2_path}'")
  endif()
  set(has_key 0)
  set(key_bytes "0")
  if(NOT key_file STREQUAL "")
    set(how "make one with: openssl ec -in release.key -pubout -out release.pub")
    if(NOT EXISTS "${key_file}" OR IS_DIRECTORY "${key_file}")
      message(FATAL_ERROR "VELGRIM_RELEASE_KEY: ${key_file} is not a file (a PEM public key; ${how})")
    endif()
    find_program(VELGRIM_OPENSSL openssl)
    if(NOT VELGRIM_OPENSSL)
      message(FATAL_ERROR "VELGRIM_RELEASE_KEY needs the openssl command (apt-get install openssl)")
    endif()
    get_filename_component(out_dir "${out_header}" DIRECTORY)
    file(MAKE_DIRECTORY "${out_dir}")
    set(der "${out_dir}/velgrim_release_key.der")
    execute_process(
      COMMAND ${VELGRIM_OPENSSL} ec -pubin -in "${key_file}" -outform DER -conv_form uncompressed -out "${der}"
      RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE openssl_error)
    if(NOT status EQUAL 0 OR NOT EXISTS "${der}")
      file(REMOVE "${der}")
      message(FATAL_ERROR "VELGRIM_RELEASE_KEY: ${key_file} is not a PEM EC public key (${how})")
    endif()
    file(READ "${der}" der_hex HEX)
    file(REMOVE "${der}")
    # SubjectPublicKeyInfo: id-ecPublicKey, prime256v1, an uncompressed point.
    set(prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
    string(LENGTH "${der_hex}" der_length)
    string(FIND "${der_hex}" "${prefix}" at)
    if(NOT der_length EQUAL 182 OR NOT at EQUAL 0)
      message(FATAL_ERROR "VELGRIM_RELEASE_KEY: ${key_file} is not a P-256 (prime256v1) public key (${how})")
    endif()
    string(SUBSTRING "${der_hex}" 54 128 point)
    string(REGEX REPLACE "(..)" "0x\\1, " key_bytes "${point}")
    string(REGEX REPLACE ", $" "" key_bytes "${key_bytes}")
    set(has_key 1)
  endif()
  file(CONFIGURE OUTPUT "${out_header}" @ONLY CONTENT [=[
// Generated from VELGRIM_RELEASE_KEY, VELGRIM_MANIFEST_PATH, VELGRIM_MANIFEST2_PATH and VELGRIM_MANIFEST3_PATH by
// cmake/ReleaseKey.cmake.
#pragma once

#define VELGRIM_HAS_RELEASE_KEY @has_key@
#define VELGRIM_RELEASE_KEY_BYTES @key_bytes@
#define VELGRIM_MANIFEST_PATH "@manifest_path@"
#define VELGRIM_MANIFEST2_PATH "@manifest2_path@"
#define VELGRIM_MANIFEST3_PATH "@manifest3_path@"
]=])
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED MANIFEST_PATH)
    set(MANIFEST_PATH "/velgrim_release.txt")
  endif()
  velgrim_release_key_header("${KEY}" "${MANIFEST_PATH}" "${OUT}")
endif()
