# Finds the project's dependencies: nlohmann json 3.12 (headers from the PyPI wheel, or an
# installed CMake package), pybind11 3.x (only for the extension) and GoogleTest (only for tests).

find_package(Python 3.11 COMPONENTS Interpreter QUIET)

# nlohmann json. The PyPI wheel ships the headers and exposes nlohmann_json.get_include()
# but no CMake package, so ask the build's Python first, then fall back to a CMake config.
# ORVIK_JSON_INCLUDE names the folder directly: builds for several Pythons then compile the core
# with the same flags, so that a compiler cache serves them all.
set(_orvik_json_include "${ORVIK_JSON_INCLUDE}")
if(NOT _orvik_json_include AND Python_EXECUTABLE)
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c "import nlohmann_json; print(nlohmann_json.get_include())"
    OUTPUT_VARIABLE _orvik_json_include
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
endif()
add_library(orvik_nlohmann_json INTERFACE)
add_library(orvik::nlohmann_json ALIAS orvik_nlohmann_json)
if(_orvik_json_include AND EXISTS "${_orvik_json_include}/nlohmann/json.hpp")
  message(STATUS "nlohmann json headers from the Python package: ${_orvik_json_include}")
  target_include_directories(orvik_nlohmann_json SYSTEM INTERFACE "${_orvik_json_include}")
else()
  find_package(nlohmann_json 3.12 CONFIG REQUIRED)
  target_link_libraries(orvik_nlohmann_json INTERFACE nlohmann_json::nlohmann_json)
endif()

if(ORVIK_BUILD_PYTHON)
  find_package(Python 3.11 REQUIRED COMPONENTS Interpreter Development.Module)
  if(NOT pybind11_DIR AND Python_EXECUTABLE)
    execute_process(
      COMMAND "${Python_EXECUTABLE}" -c "import pybind11; print(pybind11.get_cmake_dir())"
      OUTPUT_VARIABLE pybind11_DIR
      OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET)
  endif()
  find_package(pybind11 3 CONFIG REQUIRED)
endif()

if(ORVIK_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
