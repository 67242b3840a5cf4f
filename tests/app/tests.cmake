# The real program, started offscreen on the private JACK server and ended by SIGTERM.
add_test(NAME smoke_vantor COMMAND ${CMAKE_CURRENT_LIST_DIR}/smoke $<TARGET_FILE:vantor>)
set_tests_properties(smoke_vantor PROPERTIES
  ENVIRONMENT "${VANTOR_TEST_ENV};JACK_DEFAULT_SERVER=${VANTOR_JACK_SERVER}"
  FIXTURES_REQUIRED jack RESOURCE_LOCK jack TIMEOUT 120)
