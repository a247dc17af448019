# The tarvo program: argument parsing (CLI11), the commands, progress lines, exit statuses and
# the plots (PLplot). Everything else is the front end's library (frontend/).
# Included by tools/CMakeLists.txt once CLI11 is found.
if(NOT TARGET tarvo_frontend OR NOT TARGET tarvo_sbml)
  message(WARNING "the front end's library is not built: the tarvo tool is not built")
  return()
endif()
pkg_check_modules(TARVO_PLPLOT REQUIRED IMPORTED_TARGET plplot)

file(GLOB TARVO_COMMAND_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tarvo/*.cpp)
add_executable(tarvo ${TARVO_COMMAND_SOURCES})
target_include_directories(tarvo PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
set_target_properties(tarvo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_compile_definitions(tarvo PRIVATE TARVO_VERSION="${PROJECT_VERSION}")
target_link_libraries(tarvo PRIVATE tarvo_frontend tarvo_sbml CLI11::CLI11
                      PkgConfig::TARVO_PLPLOT ${CMAKE_DL_LIBS})
# The method library ("EXACT", "BDF"), where it is built: main() registers it.
if(TARGET tarvo_methods)
  target_link_libraries(tarvo PRIVATE tarvo_methods)
  target_compile_definitions(tarvo PRIVATE TARVO_HAVE_METHODS)
endif()

# Command-line tests run the built binary and need it built first.
if(TARVO_TESTS)
  file(GLOB TARVO_CLI_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_cli_*.cpp)
  foreach(src ${TARVO_CLI_TESTS})
    get_filename_component(name ${src} NAME_WE)
    if(TARGET ${name})
      target_link_libraries(${name} PRIVATE tarvo_frontend)
      if(TARGET tarvo_methods)
        target_link_libraries(${name} PRIVATE tarvo_methods)
        target_compile_definitions(${name} PRIVATE TARVO_HAVE_METHODS)
      endif()
      add_dependencies(${name} tarvo)
    endif()
  endforeach()
  if(TARGET test_cli_sbml)
    target_link_libraries(test_cli_sbml PRIVATE tarvo_sbml)
  endif()
  # The SBML Test Suite's cases (NNNNN/ folders) beside the project: every case listed in
  # tests/sbml/expected_pass.txt must still pass, and none may fail.
  set(TARVO_SBML_SUITE "${CMAKE_SOURCE_DIR}/../shared/sbml-test-suite/cases" CACHE PATH
      "Folder of SBML Test Suite cases for the SbmlSuite test (skipped when absent)")
  if(IS_DIRECTORY "${TARVO_SBML_SUITE}")
    file(GLOB TARVO_SBML_CASES LIST_DIRECTORIES true "${TARVO_SBML_SUITE}/[0-9]*")
    add_test(NAME SbmlSuite.ListedCasesPass
             COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/scripts/sbml_suite.py
                     --tarvo $<TARGET_FILE:tarvo> --jobs 2
                     --expected ${CMAKE_SOURCE_DIR}/tests/sbml/expected_pass.txt
                     ${TARVO_SBML_CASES})
    set_tests_properties(SbmlSuite.ListedCasesPass PROPERTIES TIMEOUT 300)
  endif()
endif()
