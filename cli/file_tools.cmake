# File tools of the command-line tool (`info FILE`), on the configuration
# window's Qt-free model.
include_guard(GLOBAL)
add_library(qrv_cli_file_tools STATIC ${CMAKE_CURRENT_LIST_DIR}/file_tools.cpp)
target_include_directories(qrv_cli_file_tools PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qrv_cli_file_tools PUBLIC qrv_config)
qrv_warnings(qrv_cli_file_tools)
