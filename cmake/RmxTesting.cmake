# rmx_add_test(<name> SOURCES <files...> LIBS <targets...> [LABEL <label>] [TIMEOUT <s>])
# Builds a Qt Test executable and registers it with CTest, headless.
function(rmx_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  target_compile_definitions(${name} PRIVATE
    RMX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    RMX_TOOLS_DIR="${PROJECT_SOURCE_DIR}/tools"
    RMX_BUILD_DIR="${PROJECT_BINARY_DIR}")
  rmx_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABEL}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()
