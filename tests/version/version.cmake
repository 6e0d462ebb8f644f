# File version information reader: fixtures made at build time by our own code, the
# unit tests, and the cross-check of verinfo between the two builds. Included by tests/.

# Resource-only DLLs from our .rc files, made with binutils-mingw-w64 in both builds.
find_program(ORVA_MINGW_WINDRES i686-w64-mingw32-windres REQUIRED)
find_program(ORVA_MINGW_GCC i686-w64-mingw32-gcc REQUIRED)
set(VERSION_FIXTURES ${CMAKE_BINARY_DIR}/fixtures/version)
file(GLOB version_rc_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/version/fixtures/*.rc)
set(version_fixture_files)
foreach(rc ${version_rc_files})
  get_filename_component(name ${rc} NAME_WE)
  set(dll ${VERSION_FIXTURES}/${name}.dll)
  add_custom_command(OUTPUT ${dll}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VERSION_FIXTURES}/obj
    COMMAND ${ORVA_MINGW_WINDRES} -c 1252 -i ${rc} -o ${VERSION_FIXTURES}/obj/${name}.o
    COMMAND ${ORVA_MINGW_GCC} -shared -nostdlib -Wl,-e,0 -Wl,--no-insert-timestamp -s
            -o ${dll} ${VERSION_FIXTURES}/obj/${name}.o
    DEPENDS ${rc}
    COMMENT "Version fixture ${name}.dll"
    VERBATIM)
  list(APPEND version_fixture_files ${dll})
endforeach()

# Images from our PE writer: PE32+, other root sizes, odd tables and texts (top level), version
# resources declaring more than their file holds (oversized/), and truncated and corrupted ones
# (hostile/).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(version_synthetic_stamp ${VERSION_FIXTURES}/synthetic.stamp)
add_custom_command(OUTPUT ${version_synthetic_stamp}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/version/make_fixtures.py
          ${VERSION_FIXTURES}
  COMMAND ${CMAKE_COMMAND} -E touch ${version_synthetic_stamp}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/version/make_fixtures.py
          ${CMAKE_CURRENT_SOURCE_DIR}/version/pe_writer.py
  COMMENT "Synthetic version fixtures"
  VERBATIM)
add_custom_target(version_fixtures ALL DEPENDS ${version_fixture_files} ${version_synthetic_stamp})

target_compile_definitions(unit_tests PRIVATE VERSION_FIXTURES="${VERSION_FIXTURES}")
add_dependencies(unit_tests version_fixtures)

# verinfo of the POSIX build, verinfo.exe under Wine and verinfo.exe --system (the system's
# version library) print the same for every fixture of the top level and for Wine's own
# libraries; the first two also for the oversized/ fixtures. Each build registers the test against
# the other build's verinfo (the presets' build directories); it is skipped while the other build
# is absent.
if(WIN32)
  set(ORVA_POSIX_VERINFO ${PROJECT_SOURCE_DIR}/build/posix/src/verinfo
      CACHE FILEPATH "verinfo of the POSIX build, for the cross-check")
  set(cross_posix ${ORVA_POSIX_VERINFO})
  set(cross_windows $<TARGET_FILE:verinfo>)
else()
  set(ORVA_WINDOWS_VERINFO ${PROJECT_SOURCE_DIR}/build/windows/src/verinfo.exe
      CACHE FILEPATH "verinfo.exe of the Windows build, for the cross-check")
  set(cross_posix $<TARGET_FILE:verinfo>)
  set(cross_windows ${ORVA_WINDOWS_VERINFO})
endif()
# Wine's own libraries and programs, 32-bit and 64-bit, are read alike by both builds too.
file(GLOB wine_libraries LIST_DIRECTORIES true /usr/lib/*-linux-gnu/wine/*-windows)
add_test(NAME verinfo_cross_check
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/version/cross_check.py
          --posix ${cross_posix} --windows ${cross_windows}
          --wine-run ${PROJECT_SOURCE_DIR}/tools/wine-run --fixtures ${VERSION_FIXTURES}
          --wine-libraries ${wine_libraries})
set_tests_properties(verinfo_cross_check PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

# The Windows executables load version.dll at run time only: their import tables must not name it.
if(WIN32)
  find_program(ORVA_MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
  add_test(NAME no_static_version_import
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/version/check_imports.py
            ${ORVA_MINGW_OBJDUMP} $<TARGET_FILE:verinfo> $<TARGET_FILE:orvapatch>
            $<TARGET_FILE:unit_tests>)
endif()
