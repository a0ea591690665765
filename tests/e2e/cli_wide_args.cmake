# The Windows console builder with arguments code page 1252 cannot hold: refused whole, nothing
# written. In-process in every Windows build; the real program only where wine64 can run it.
if(TARGET tambrix_cli AND WIN32)
  add_executable(cli_wide_args_test ${CMAKE_CURRENT_LIST_DIR}/cli_wide_args_test.cpp)
  target_link_libraries(cli_wide_args_test PRIVATE tambrix_cli GTest::gtest_main)
  add_test(NAME e2e.cli_wide_args_unit COMMAND cli_wide_args_test --gtest_brief=1)
  set_tests_properties(e2e.cli_wide_args_unit PROPERTIES TIMEOUT 300 LABELS e2e)
endif()
if(TARGET tambrixc AND CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  add_test(NAME e2e.cli_wide_args
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_wide_args.sh $<TARGET_FILE:tambrixc>
            ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(e2e.cli_wide_args PROPERTIES TIMEOUT 600 LABELS e2e)
endif()
