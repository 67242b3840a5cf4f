# The end-to-end test drives the real program: it needs the binary, its helpers
# beside it, and the machine to itself (its timing tolerances assume no other test
# competes for the two cores).
target_sources(test_e2e_jack PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/JackPeer.cpp ${CMAKE_CURRENT_LIST_DIR}/JackPeer.h
  ${CMAKE_CURRENT_LIST_DIR}/XDisplay.cpp ${CMAKE_CURRENT_LIST_DIR}/XDisplay.h
  ${CMAKE_CURRENT_LIST_DIR}/Expectations.cpp ${CMAKE_CURRENT_LIST_DIR}/Expectations.h)
add_dependencies(test_e2e_jack vantor)
set_tests_properties(test_e2e_jack PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
