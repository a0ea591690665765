# The console builder: its commands run in-process (native and under wine64), and the real
# program round-trips the example tree (natively, or through wine64 in the Windows build).
if(TARGET tambrix_cli)
  add_executable(cli_commands_test ${CMAKE_CURRENT_LIST_DIR}/cli_commands_test.cpp)
  target_link_libraries(cli_commands_test PRIVATE tambrix_cli tambrix_test_util GTest::gtest_main)
  add_test(NAME e2e.cli_commands COMMAND cli_commands_test --gtest_brief=1)
  set_tests_properties(e2e.cli_commands PROPERTIES TIMEOUT 300 LABELS e2e)

  add_executable(cli_conventions_test ${CMAKE_CURRENT_LIST_DIR}/cli_conventions_test.cpp)
  target_link_libraries(cli_conventions_test PRIVATE tambrix_cli tambrix_test_util GTest::gtest_main)
  target_compile_definitions(cli_conventions_test PRIVATE TAMBRIX_TEST_VERSION="${PROJECT_VERSION}")
  add_test(NAME e2e.cli_conventions COMMAND cli_conventions_test --gtest_brief=1)
  set_tests_properties(e2e.cli_conventions PROPERTIES TIMEOUT 300 LABELS e2e)

  set(TAMBRIX_CLI_RUNNER "")
  if(CMAKE_CROSSCOMPILING)
    set(TAMBRIX_CLI_RUNNER "${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  if(NOT CMAKE_CROSSCOMPILING OR CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    add_test(NAME e2e.cli_roundtrip
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_roundtrip.sh $<TARGET_FILE:tambrixc>
              ${CMAKE_SOURCE_DIR}/examples/tree ${TAMBRIX_CLI_RUNNER})
    set_tests_properties(e2e.cli_roundtrip PROPERTIES TIMEOUT 600 LABELS e2e)
  endif()
endif()
