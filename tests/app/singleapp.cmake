# QtSingleApplication: a real second process starts against the test program.
add_executable(singleapp_test_helper ${CMAKE_CURRENT_LIST_DIR}/singleapp_helper.cpp)
target_link_libraries(singleapp_test_helper PRIVATE kest_singleapp)

kest_add_test(app_singleapp_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/singleapp_test.cpp
  LIBS kest_singleapp)
add_dependencies(app_singleapp_tests singleapp_test_helper)
