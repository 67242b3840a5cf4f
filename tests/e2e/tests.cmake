# The end-to-end test drives the real program in its own X server, on the tests'
# JACK server. It needs the binary, and the machine to itself: its timing
# tolerances assume no other test competes for the two cores.
add_dependencies(test_e2e vantor)
set_tests_properties(test_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 300
  ENVIRONMENT "${VANTOR_TEST_ENV};JACK_DEFAULT_SERVER=${VANTOR_JACK_SERVER}"
  FIXTURES_REQUIRED jack RESOURCE_LOCK jack)
