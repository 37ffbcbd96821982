# acctset_test(name SOURCES … LIBS …): one Qt Test program, run offscreen by CTest.
# A test that needs a server starts the sandbox itself.
acctset_pch(test_core LIBS Qt6::Test Qt6::Sql Qt6::GuiPrivate)
acctset_pch(test_gui LIBS Qt6::Test Qt6::Widgets Qt6::Sql Qt6::GuiPrivate)
# Qt Test defines each program's folders, which no test here reads; left defined, they would make
# every folder's tests compile the headers again instead of sharing one precompiled copy.
set(ACCTSET_TEST_UNDEFS -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
# The code under test keeps the build's optimisation; the tests' own code gains nothing from -O2,
# which costs a third more to compile than -O1 (Qt Test's macros expand to much code).
set(ACCTSET_TEST_FLAGS ${ACCTSET_TEST_UNDEFS} $<$<CONFIG:RelWithDebInfo,Release>:-O1>)
if(ACCTSET_PCH)
  foreach(kind test_core test_gui)
    target_compile_options(acctset_pch_${kind} PRIVATE ${ACCTSET_TEST_FLAGS})
  endforeach()
endif()

function(acctset_test_program name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(acctset_sandbox IN_LIST T_LIBS AND NOT ACCTSET_BUILD_SANDBOX)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE Qt6::Test Qt6::Sql acctset_test_support ${T_LIBS})
  target_compile_options(${name} PRIVATE ${ACCTSET_TEST_FLAGS})
  # Tests with the windows share one set of precompiled headers, the rest another; Qt Network
  # changes what Qt Test declares, so its few tests parse the headers themselves.
  if(acctset_gui IN_LIST T_LIBS)
    acctset_use_pch(${name} test_gui)
  elseif(NOT Qt6::Network IN_LIST T_LIBS)
    acctset_use_pch(${name} test_core)
  endif()
endfunction()

function(acctset_add_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator a program that never started (a DLL missing) can still exit 0.
    set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION "Totals: [0-9]+ passed, 0 failed"
                                            FAIL_REGULAR_EXPRESSION "Totals: [0-9]+ passed, [1-9]")
  endif()
endfunction()

function(acctset_test name)
  acctset_test_program(${name} ${ARGN})
  acctset_add_test(${name} ${name})
endfunction()

# acctset_test_group(program TESTS name=Class … SOURCES … LIBS …): the test classes of one library
# in one program (name.cpp holds Class, registered with ACCTSET_TEST_CLASS); each class is still a
# test of its own for CTest, run in a process of its own.
function(acctset_test_group program)
  cmake_parse_arguments(T "" "" "TESTS;SOURCES;LIBS" ${ARGN})
  set(sources ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
  set(names)
  foreach(pair IN LISTS T_TESTS)
    string(REPLACE "=" ";" parts ${pair})
    list(GET parts 0 test)
    list(APPEND sources ${test}.cpp)
    list(APPEND names ${test})
  endforeach()
  acctset_test_program(${program} SOURCES ${sources} LIBS ${T_LIBS})
  foreach(pair IN LISTS T_TESTS)
    string(REPLACE "=" ";" parts ${pair})
    list(GET parts 0 test)
    list(GET parts 1 class)
    acctset_add_test(${test} ${program} ${class})
  endforeach()
endfunction()
