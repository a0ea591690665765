# The Windows console builder with arguments code page 1252 cannot hold: refused whole, nothing
# written. Only where wine64 can run the program.
if(TARGET tambrixc AND CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  add_test(NAME e2e.cli_wide_args
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli_wide_args.sh $<TARGET_FILE:tambrixc>
            ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(e2e.cli_wide_args PROPERTIES TIMEOUT 600 LABELS e2e)
endif()
