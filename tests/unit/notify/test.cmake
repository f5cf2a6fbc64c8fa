# The toast recorder stands in for the Windows toast platform: registered in the test
# prefix before the notification tests run. Shell links saved in the prefix must not
# become menu entries on the host, so the menu builder is kept from running.
add_test(NAME unit_notify_register_recorder COMMAND register_toast_recorder)
set_tests_properties(unit_notify_register_recorder PROPERTIES FIXTURES_SETUP toast_recorder LABELS unit)
add_dependencies(unit_${name} toast_recorder register_toast_recorder)
set_tests_properties(unit_${name} PROPERTIES
    FIXTURES_REQUIRED toast_recorder
    ENVIRONMENT "WINEDLLOVERRIDES=mscoree,mshtml=\\;winemenubuilder.exe=d")
