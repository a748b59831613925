# vn_test_main: the main every suite links instead of GoogleTest's own.
add_library(vn_test_main STATIC ${CMAKE_CURRENT_LIST_DIR}/test_main.cpp)
target_link_libraries(vn_test_main PUBLIC GTest::gtest)
