# The resource rewrite checked from outside: pe_rewrite_tool writes rewritten stubs and
# pe_oracle.py holds them to pefile's reading (native build, with the stubs the Windows presets
# built beside it).
if(WIN32 OR NOT EXISTS /usr/bin/python3)
  return()
endif()
add_executable(pe_rewrite_tool ${CMAKE_CURRENT_LIST_DIR}/pe_rewrite_tool.cpp)
target_link_libraries(pe_rewrite_tool PRIVATE tambrix_format)
add_test(NAME e2e.pe_oracle
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/pe_oracle.py $<TARGET_FILE:pe_rewrite_tool>
          ${CMAKE_CURRENT_BINARY_DIR}/pe-oracle
          ${CMAKE_SOURCE_DIR}/build/win64/stub/tambrix.res1
          ${CMAKE_SOURCE_DIR}/build/win64/stub/tambrix.res2
          ${CMAKE_SOURCE_DIR}/build/win32/stub/tambrix.res1
          ${CMAKE_SOURCE_DIR}/build/win32/stub/tambrix.res2)
set_tests_properties(e2e.pe_oracle PROPERTIES TIMEOUT 300 LABELS e2e SKIP_RETURN_CODE 77)
