# leafhaul_add_test(<name> SOURCES ... LIBS ... [GUI])
# One gtest binary; GUI tests get a QApplication, the rest a QCoreApplication.
function(leafhaul_add_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${name} PRIVATE leafhaul_testmain_gui)
  else()
    target_link_libraries(${name} PRIVATE leafhaul_testmain)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    LEAFHAUL_PYTHON="${LEAFHAUL_PYTHON}"
    LEAFHAUL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 300 ENVIRONMENT "LEAFHAUL_PYTHON=${LEAFHAUL_PYTHON}")
endfunction()
