# pelmora_add_test(NAME name SOURCES ... [LIBS ...] [TIMEOUT s] [LABELS ...])
# One QtTest executable registered with CTest, run offscreen, with its own
# empty home and XDG folders so no test touches the real user's files.
function(pelmora_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(sandbox ${CMAKE_BINARY_DIR}/test-sandbox/${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_DATA_HOME=${sandbox}/data;XDG_CONFIG_HOME=${sandbox}/config;PELMORA_EMULATOR=$<TARGET_FILE:rv7k-emulator>;PELMORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
