# The SHA-256 that a launcher checks its installer against, as the header installer_sha256.h of
# src/app/released_installer.cc: from a digest in hex (empty: none), or, run as a script at build
# time, from the installer file itself (cmake -DINSTALLER=FILE -DOUTPUT=HEADER -P this file).
function(orva_installer_digest_header hex output)
  if(hex STREQUAL "")
    set(content "// Built without an installer digest: any installer beside the launcher starts.\n")
  else()
    string(TOLOWER "${hex}" hex)
    string(LENGTH "${hex}" length)
    if(NOT hex MATCHES "^[0-9a-f]+$" OR NOT length EQUAL 64)
      message(FATAL_ERROR "ORVA_INSTALLER_SHA256 is not a SHA-256 in hex: ${hex}")
    endif()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    set(content "// The installer's SHA-256: ${hex}\n#define ORVA_INSTALLER_SHA256 ${bytes}\n")
  endif()
  file(CONFIGURE OUTPUT "${output}" CONTENT "${content}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  file(SHA256 "${INSTALLER}" hex)
  orva_installer_digest_header("${hex}" "${OUTPUT}")
endif()
