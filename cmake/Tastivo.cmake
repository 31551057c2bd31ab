# tastivo_add_test(NAME <name> LABEL <folder> SOURCES <files...> LIBS <targets...>
#                  [ENVIRONMENT <VAR=value...>] [TIMEOUT <seconds>] [OWN_JACK])
# OWN_JACK runs the test on a JACK server of its own, started and stopped
# around it, for tests that load a server hard enough to slow the tests
# after them.
# Builds one GoogleTest executable with the shared test main and registers it
# with ctest, labelled by its folder and run headless. A key press waits up
# to 3 s for its clip in tests, so a busy machine doesn't fail tests that are
# not about that wait; those set TASTIVO_KEY_WAIT_MS themselves.
function(tastivo_add_test)
  cmake_parse_arguments(T "OWN_JACK" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tastivo_testmain ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  if(T_OWN_JACK)
    add_test(NAME ${T_NAME} COMMAND env -u JACK_DEFAULT_SERVER -u TASTIVO_SERVICES_DIR
             ${CMAKE_SOURCE_DIR}/scripts/with-test-services.sh $<TARGET_FILE:${T_NAME}>)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS ${T_LABEL}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TASTIVO_TEST_DATA=${CMAKE_BINARY_DIR}/testdata;TASTIVO_KEY_WAIT_MS=3000;${T_ENVIRONMENT}")
endfunction()
