# The JACK test starts and stops servers of its own; libjack's shared registry
# is one for all servers, so it keeps clear of the tests on the fixture's.
set_tests_properties(test_jack_faults PROPERTIES RESOURCE_LOCK jack)
