# Optional dependencies of the tarvo tool: toml++ for model files, PLplot for the plots.
# Included by tools/CMakeLists.txt after the tarvo target exists.
if(NOT PkgConfig_FOUND)
  message(FATAL_ERROR "pkg-config is needed to find toml++ and PLplot (scripts/deps.sh)")
endif()
pkg_check_modules(TARVO_TOML REQUIRED IMPORTED_TARGET tomlplusplus)
pkg_check_modules(TARVO_PLPLOT REQUIRED IMPORTED_TARGET plplot)
target_link_libraries(tarvo PRIVATE PkgConfig::TARVO_TOML PkgConfig::TARVO_PLPLOT)

# Unit tests of the tool's readers link the tool's own modules (not main.cpp nor the
# subcommand files); command-line tests run the built binary and need it built first.
set(TARVO_TOOL_UNIT_SOURCES)
foreach(unit formula_lex formula_syntax formula_diagnosis formula_limits names model_file model_text non_finite work_budget dependence
             data_csv erreur_text tolerance_range
             host_blocks library_session load_model prepare simulate_at model_warnings report
             plot results distributions residual_sums refit uncertainty uncertainty_report profile
             profile_plot fit_uncertainty reactions fit_control transforms experiments multi_start)
  list(APPEND TARVO_TOOL_UNIT_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tarvo/${unit}.cpp)
endforeach()
# The fuzz targets of the model and data readers link them too (fuzz/).
if(TARVO_TESTS OR TARVO_FUZZ)
  add_library(tarvo_tool_units STATIC EXCLUDE_FROM_ALL ${TARVO_TOOL_UNIT_SOURCES})
  target_include_directories(tarvo_tool_units PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(tarvo_tool_units PUBLIC tarvo_core CLI11::CLI11 nlohmann_json::nlohmann_json
                        PkgConfig::TARVO_TOML PkgConfig::TARVO_PLPLOT)
endif()
if(TARVO_TESTS)
  file(GLOB TARVO_CLI_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_cli_*.cpp)
  foreach(src ${TARVO_CLI_TESTS})
    get_filename_component(name ${src} NAME_WE)
    if(TARGET ${name})
      target_link_libraries(${name} PRIVATE tarvo_tool_units)
      add_dependencies(${name} tarvo)
    endif()
  endforeach()
endif()
