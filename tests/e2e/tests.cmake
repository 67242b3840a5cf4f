# The end-to-end test drives the real program with its own X server and JACK
# server. It needs the binary, and the machine to itself: its timing tolerances
# assume no other test competes for the two cores.
target_sources(test_e2e PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/JackServer.cpp ${CMAKE_CURRENT_LIST_DIR}/JackServer.h
  ${CMAKE_CURRENT_LIST_DIR}/JackPeer.cpp ${CMAKE_CURRENT_LIST_DIR}/JackPeer.h
  ${CMAKE_CURRENT_LIST_DIR}/XDisplay.cpp ${CMAKE_CURRENT_LIST_DIR}/XDisplay.h
  ${CMAKE_CURRENT_LIST_DIR}/Expectations.cpp ${CMAKE_CURRENT_LIST_DIR}/Expectations.h)
add_dependencies(test_e2e vantor)
set_tests_properties(test_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
