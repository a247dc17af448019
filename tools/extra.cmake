# The front end's library and command. toml++ reads the model files, PLplot draws the plots.
# Included by tools/CMakeLists.txt once CLI11 and nlohmann-json are found.
if(NOT PkgConfig_FOUND)
  message(FATAL_ERROR "pkg-config is needed to find toml++ and PLplot (scripts/deps.sh)")
endif()
pkg_check_modules(TARVO_TOML REQUIRED IMPORTED_TARGET tomlplusplus)
pkg_check_modules(TARVO_PLPLOT REQUIRED IMPORTED_TARGET plplot)

# The command's own files: main.cpp, one file per subcommand, and the sanitizer settings of
# the program. Every other file of tarvo/ is the library.
set(TARVO_COMMAND_FILES main batch check compare export fit formula import simulate synth
    sanitizer_suppressions)
file(GLOB TARVO_FRONTEND_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tarvo/*.cpp)
set(TARVO_COMMAND_SOURCES)
foreach(name ${TARVO_COMMAND_FILES})
  list(REMOVE_ITEM TARVO_FRONTEND_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tarvo/${name}.cpp)
  list(APPEND TARVO_COMMAND_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tarvo/${name}.cpp)
endforeach()

# SBML import and export (libSBML) form a library of their own, so that only the command
# links libSBML.
pkg_check_modules(TARVO_SBML REQUIRED IMPORTED_TARGET libsbml)  # libsbml5-dev (scripts/deps.sh)
set(TARVO_SBML_SOURCES)
foreach(name sbml_import sbml_export)
  list(REMOVE_ITEM TARVO_FRONTEND_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tarvo/${name}.cpp)
  list(APPEND TARVO_SBML_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tarvo/${name}.cpp)
endforeach()

# Static and position-independent (CMAKE_POSITION_INDEPENDENT_CODE), so that it links into
# the Python extension module as well as into programs.
add_library(tarvo_frontend STATIC ${TARVO_FRONTEND_SOURCES})
target_include_directories(tarvo_frontend PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tarvo_frontend PUBLIC tarvo_core nlohmann_json::nlohmann_json
                      PkgConfig::TARVO_TOML PkgConfig::TARVO_PLPLOT)
# The name the unit tests and fuzz targets link.
add_library(tarvo_tool_units ALIAS tarvo_frontend)

add_library(tarvo_sbml STATIC ${TARVO_SBML_SOURCES})
target_link_libraries(tarvo_sbml PUBLIC tarvo_frontend PkgConfig::TARVO_SBML)

add_executable(tarvo ${TARVO_COMMAND_SOURCES})
set_target_properties(tarvo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_compile_definitions(tarvo PRIVATE TARVO_VERSION="${PROJECT_VERSION}")
target_link_libraries(tarvo PRIVATE tarvo_frontend tarvo_sbml CLI11::CLI11 ${CMAKE_DL_LIBS})

# Command-line tests run the built binary and need it built first.
if(TARVO_TESTS)
  file(GLOB TARVO_CLI_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_cli_*.cpp)
  foreach(src ${TARVO_CLI_TESTS})
    get_filename_component(name ${src} NAME_WE)
    if(TARGET ${name})
      target_link_libraries(${name} PRIVATE tarvo_frontend)
      add_dependencies(${name} tarvo)
    endif()
  endforeach()
  if(TARGET test_cli_sbml)
    target_link_libraries(test_cli_sbml PRIVATE tarvo_sbml)
  endif()
  # The SBML Test Suite's cases (NNNNN/ folders): every case listed in tests/sbml/
  # expected_pass.txt must still pass, and none may fail.
  set(TARVO_SBML_SUITE "/work/shared/sbml-test-suite/cases" CACHE PATH
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
