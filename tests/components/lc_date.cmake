# Tests of the date component (label "settings").
add_executable(lc_date_test ${CMAKE_CURRENT_LIST_DIR}/lc_date_test.cpp)
target_link_libraries(lc_date_test PRIVATE dovrik_lcdate GTest::gtest_main)
gtest_discover_tests(lc_date_test DISCOVERY_MODE PRE_TEST PROPERTIES LABELS settings)

# The build date follows SOURCE_DATE_EPOCH when it is set.
add_test(NAME lc_date_build_epoch_from_environment
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=895148958
          ${CMAKE_COMMAND} -DDOVRIK_SOURCE_DIR=${PROJECT_SOURCE_DIR}
          -P ${PROJECT_SOURCE_DIR}/components/lc_date.cmake)
set_tests_properties(lc_date_build_epoch_from_environment PROPERTIES
  LABELS settings PASS_REGULAR_EXPRESSION "build epoch: 895148958\n")
