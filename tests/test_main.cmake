# vn_test_main: the main every suite links instead of GoogleTest's own, with
# its check that no test ends the program. The Windows suites keep
# GoogleTest's main: under Wine in a bare Debian 12 one of them, built with
# the check, once ended with no output at all, and the cause was not found.
if(WIN32)
  add_library(vn_test_main INTERFACE)
  target_link_libraries(vn_test_main INTERFACE GTest::gtest_main)
else()
  add_library(vn_test_main STATIC ${CMAKE_CURRENT_LIST_DIR}/test_main.cpp)
  target_link_libraries(vn_test_main PUBLIC GTest::gtest)
endif()
