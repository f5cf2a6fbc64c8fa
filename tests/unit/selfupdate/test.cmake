# The failure notice of the apply-update mode is observed through the toast recorder,
# registered in the test prefix by the notification tests' fixture. Shell links the
# notice saves in the prefix must not become menu entries on the host.
add_dependencies(unit_${name} toast_recorder register_toast_recorder)
set_tests_properties(unit_${name} PROPERTIES
    FIXTURES_REQUIRED toast_recorder
    ENVIRONMENT "WINEDLLOVERRIDES=mscoree,mshtml=\\;winemenubuilder.exe=d")
