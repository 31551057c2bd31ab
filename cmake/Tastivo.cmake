# tastivo_add_test(NAME <name> LABEL <folder> SOURCES <files...> LIBS <targets...>
#                  [ENVIRONMENT <VAR=value...>] [TIMEOUT <seconds>])
# Builds one GoogleTest executable with the shared test main and registers it
# with ctest, labelled by its folder and run headless.
function(tastivo_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tastivo_testmain ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS ${T_LABEL}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TASTIVO_TEST_DATA=${CMAKE_BINARY_DIR}/testdata;${T_ENVIRONMENT}")
endfunction()
