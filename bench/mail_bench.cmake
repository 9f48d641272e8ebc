# The local mailbox check the Mail plug-in's local view runs every 300 ms.
add_executable(mail_bench mail_bench.cpp ${PROJECT_SOURCE_DIR}/src/plugins/Mail/QXLocalMailbox.cpp)
set_target_properties(mail_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
target_include_directories(mail_bench PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/src/plugins/Mail)
target_link_libraries(mail_bench PRIVATE qx::platform benchmark::benchmark)
_qx_common_options(mail_bench)
