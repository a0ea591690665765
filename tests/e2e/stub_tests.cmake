# The extractor stubs under wine64: a helper program for commands, the window driver, and the
# end-to-end groups of stub_tests.sh (one ctest test each). Only the x86_64 Windows build runs
# them; archives are built with the native tambrixc when there is one, else with tambrixc.exe.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8 AND TARGET tambrix_stub_gzip)
  add_executable(stub_marker WIN32 ${CMAKE_CURRENT_LIST_DIR}/stub_marker.cpp)
  target_compile_definitions(stub_marker PRIVATE UNICODE _UNICODE)
  target_link_options(stub_marker PRIVATE -municode)
  target_link_libraries(stub_marker PRIVATE shell32)

  # The command of the argument tests (its command line into a file, exit code 7) and their
  # launcher of exact command lines.
  add_executable(args_probe WIN32 ${CMAKE_CURRENT_LIST_DIR}/args_probe.cpp)
  target_compile_definitions(args_probe PRIVATE UNICODE _UNICODE)
  target_link_options(args_probe PRIVATE -municode)

  # The message window alone, with the extractor's resources (its manifest among them).
  add_executable(stub_box_probe WIN32 ${CMAKE_CURRENT_LIST_DIR}/stub_box_probe.cpp
    ${CMAKE_SOURCE_DIR}/stub/stub_box.cpp ${CMAKE_SOURCE_DIR}/stub/stub.rc)
  target_compile_definitions(stub_box_probe PRIVATE UNICODE _UNICODE)
  target_include_directories(stub_box_probe PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/stub
    ${CMAKE_SOURCE_DIR}/resources)
  target_link_options(stub_box_probe PRIVATE -municode)
  target_link_libraries(stub_box_probe PRIVATE shell32 user32 gdi32)

  # Reads a produced program's icon, version information and manifest as Windows does.
  add_executable(look_probe ${CMAKE_CURRENT_LIST_DIR}/look_probe.cpp)
  target_compile_definitions(look_probe PRIVATE UNICODE _UNICODE)
  target_link_options(look_probe PRIVATE -municode)
  target_link_libraries(look_probe PRIVATE shell32 user32 gdi32 version)

  add_executable(stub_driver ${CMAKE_CURRENT_LIST_DIR}/stub_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stub_box_test.cpp)
  target_include_directories(stub_driver PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(stub_driver PRIVATE GTest::gtest_main user32 gdi32)
  set_target_properties(stub_marker args_probe stub_box_probe look_probe stub_driver PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/stub-tools)

  set(TAMBRIX_HOST_TAMBRIXC "${CMAKE_SOURCE_DIR}/build/native/dist/tambrixc" CACHE FILEPATH
    "Native tambrixc used by the stub end-to-end tests (tambrixc.exe under Wine when absent)")
  set(builders "${TAMBRIX_HOST_TAMBRIXC}")
  if(TARGET tambrixc)
    set(builders "${builders}:$<TARGET_FILE:tambrixc>")
  endif()
  foreach(group example big test damage names verdicts links layout signed look commands args choices threads gui dialogs)
    add_test(NAME e2e.stub.${group}
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/stub_tests.sh
              $<TARGET_FILE_DIR:tambrix_stub_gzip> ${CMAKE_CURRENT_BINARY_DIR}/stub-tools
              ${CMAKE_SOURCE_DIR}/examples/tree "${builders}" ${group})
    # One at a time: run alone, each group starts an X server and a wineserver for one prefix.
    # The window tests keep their screenshots (96dpi/, 144dpi/) in stub-screenshots.
    set_tests_properties(e2e.stub.${group} PROPERTIES TIMEOUT 1200 LABELS e2e
      RESOURCE_LOCK tambrix_stub_wine
      ENVIRONMENT "TAMBRIX_STUB_SCREENSHOTS=${CMAKE_CURRENT_BINARY_DIR}/stub-screenshots")
  endforeach()
endif()

# The stub's command line as text, tested natively and under Wine alike.
if(TARGET stub_command_line_test AND TARGET tambrix_stub_command_line)
  target_link_libraries(stub_command_line_test PRIVATE tambrix_stub_command_line)
endif()

# The stub's name and command-line rules, tested in-process (under Wine in the x86_64 build).
if(TARGET stub_logic_win32_test AND TARGET tambrix_stub_logic)
  target_link_libraries(stub_logic_win32_test PRIVATE tambrix_stub_logic)
endif()
if(TARGET stub_files_win32_test AND TARGET tambrix_stub_files)
  target_link_libraries(stub_files_win32_test PRIVATE tambrix_stub_files)
endif()
