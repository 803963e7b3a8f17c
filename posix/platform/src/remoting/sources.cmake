# Calls between processes for the COM runtime: local servers in processes of their own and
# the proxies and stubs of interface pointers, over Cap'n Proto RPC. POSIX only: on Windows
# COM itself does this, and this file is never included there.
find_package(CapnProto REQUIRED)

# The RPC headers for code of ours that includes them. GCC's flow analysis takes the copies of
# kj::Maybe it inlines for uninitialised reads once the sanitizers change what it inlines, so
# that one warning is off where these headers are used.
add_library(velt_capnp_rpc INTERFACE)
target_link_libraries(velt_capnp_rpc INTERFACE CapnProto::capnp-rpc)
target_compile_options(velt_capnp_rpc INTERFACE
  $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)

set(VELT_COM_SCHEMA_DIR ${CMAKE_CURRENT_LIST_DIR}/schema
    CACHE INTERNAL "Import folder for schemas that extend the generic COM interfaces")
set(CAPNPC_SRC_PREFIX ${VELT_COM_SCHEMA_DIR})
set(CAPNPC_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/remoting_schema)
file(MAKE_DIRECTORY ${CAPNPC_OUTPUT_DIR})
capnp_generate_cpp(velt_com_schema_sources velt_com_schema_headers
                   ${VELT_COM_SCHEMA_DIR}/velt/com.capnp)
unset(CAPNPC_SRC_PREFIX)
unset(CAPNPC_OUTPUT_DIR)

target_sources(velt_platform PRIVATE
  ${velt_com_schema_sources}
  ${CMAKE_CURRENT_LIST_DIR}/activation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/caller_mailbox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/endpoint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/generic_marshalers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/live_count.cpp
  ${CMAKE_CURRENT_LIST_DIR}/marshaler_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/publisher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/runtime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_launch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_processes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/socket_stream.cpp)
target_include_directories(velt_platform PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/remoting_schema)
target_link_libraries(velt_platform PUBLIC CapnProto::capnp-rpc PRIVATE velt_capnp_rpc)
