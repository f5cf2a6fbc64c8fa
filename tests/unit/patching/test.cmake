# Three loopback origins (trusted HTTPS, HTTP, untrusted HTTPS) for the download tests,
# started once around the test binary. The binary finds their control files and ports
# through QUOLVA_PATCHING_ORIGIN and QUOLVA_PATCHING_PORTS.
set(patching_origin_dir ${CMAKE_BINARY_DIR}/patching-origins)
set(patching_ports "28443,28080,28444")
add_test(NAME unit_patching_origins_start
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/unit/patching/origins.py start ${patching_origin_dir})
add_test(NAME unit_patching_origins_stop
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/unit/patching/origins.py stop ${patching_origin_dir})
set_tests_properties(unit_patching_origins_start PROPERTIES
    FIXTURES_SETUP patching_origins LABELS unit ENVIRONMENT "QUOLVA_PATCHING_PORTS=${patching_ports}")
set_tests_properties(unit_patching_origins_stop PROPERTIES FIXTURES_CLEANUP patching_origins LABELS unit)
set_tests_properties(unit_${name} PROPERTIES
    FIXTURES_REQUIRED patching_origins
    ENVIRONMENT "QUOLVA_PATCHING_ORIGIN=Z:${patching_origin_dir};QUOLVA_PATCHING_PORTS=${patching_ports};QUOLVA_PATCHING_FIXTURES=Z:${PROJECT_SOURCE_DIR}/tests/fixtures/patching")
