# RPC interfaces for the Windows build.
#
#   kestrane_rpc_stubs(<name> <idl-file> [SERVER_PREFIX <p>])
#
# runs widl on the IDL and gives two targets to link:
#   <name>_client  the client stub: the calls, as functions taking the binding handle
#   <name>_server  the server stub and <name>_v<major>_<minor>_s_ifspec; the program
#                  defines the server routines
# Both put the generated "<name>.h" on the include path, bring rpcrt4, a default
# MIDL_user_allocate/MIDL_user_free pair (a program may define its own), and
# "rpc/RpcGuard.h" for calling stubs from C++ without dying on RPC exceptions.
# SERVER_PREFIX names the server routines <p><routine>, so that one program can hold
# both stubs of an interface (the client stub already owns the plain names).
#
# The generated stubs guard their calls with __try/__except (RpcTryExcept), which mingw
# g++ does not support, so their C is compiled by clang for the same mingw target with
# its SEH support. The objects link into programs built by g++ as usual: they need only
# rpcrt4 and msvcrt's __C_specific_handler. The C++ stays with g++.

if(NOT WIN32)
  message(FATAL_ERROR "RpcStubs.cmake is for the Windows build only")
endif()

# Wine's own widl (8.x) first; mingw-w64-tools ships an older one as a fallback.
find_program(KESTRANE_WIDL NAMES widl widl-stable x86_64-w64-mingw32-widl PATHS /usr/lib/wine
             DOC "Wine's IDL compiler")
find_program(KESTRANE_RPC_CLANG NAMES clang clang-14 DOC "clang, for the SEH code of RPC stubs")
if(NOT KESTRANE_WIDL OR NOT KESTRANE_RPC_CLANG)
  message(FATAL_ERROR "RPC stubs need widl (package wine64-tools) and clang (package clang): run ./dev.sh setup")
endif()

set(KESTRANE_RPC_CLANG_FLAGS --target=x86_64-w64-mingw32 -fms-extensions -DUSE_COMPILER_EXCEPTIONS -O2
    -Wall -Wno-unused-function)

# Compiles one C file with clang into object; the remaining arguments are include folders.
function(_kestrane_rpc_clang_object source object)
  set(includes)
  foreach(folder IN LISTS ARGN)
    list(APPEND includes -I${folder})
  endforeach()
  file(RELATIVE_PATH shown ${CMAKE_BINARY_DIR} ${object})
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${KESTRANE_RPC_CLANG} ${KESTRANE_RPC_CLANG_FLAGS} ${includes} -MD -MF ${object}.d -c ${source} -o ${object}
    DEPENDS ${source}
    DEPFILE ${object}.d
    COMMENT "Building RPC C object ${shown}"
    VERBATIM)
endfunction()

# What every stub target shares, made once.
if(NOT TARGET kestrane_rpc_support)
  set(support_dir ${CMAKE_BINARY_DIR}/rpc-stubs)
  _kestrane_rpc_clang_object(${CMAKE_SOURCE_DIR}/rpc/RpcGuard.c ${support_dir}/RpcGuard.o ${CMAKE_SOURCE_DIR})
  add_custom_target(kestrane_rpc_guard DEPENDS ${support_dir}/RpcGuard.o)

  # Plain C without SEH: the ordinary compiler, and a static library so that a
  # program's own definitions win.
  add_library(kestrane_rpc_allocator STATIC ${CMAKE_SOURCE_DIR}/rpc/MidlUserAllocate.c)
  target_compile_options(kestrane_rpc_allocator PRIVATE -Wall -Wextra -Werror)

  add_library(kestrane_rpc_support INTERFACE)
  target_include_directories(kestrane_rpc_support INTERFACE ${CMAKE_SOURCE_DIR})
  target_link_libraries(kestrane_rpc_support INTERFACE ${support_dir}/RpcGuard.o kestrane_rpc_allocator rpcrt4)
  # Dependencies of an interface library are followed by everything that links it.
  add_dependencies(kestrane_rpc_support kestrane_rpc_guard)
endif()

function(kestrane_rpc_stubs name idl)
  cmake_parse_arguments(PARSE_ARGV 2 stub "" "SERVER_PREFIX" "")
  set(prefix_args)
  if(stub_SERVER_PREFIX)
    set(prefix_args --prefix-server=${stub_SERVER_PREFIX})
  endif()
  get_filename_component(idl ${idl} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(idl_dir ${idl} DIRECTORY)
  set(out ${CMAKE_BINARY_DIR}/rpc-stubs/${name})
  set(header ${out}/${name}.h)
  set(client_c ${out}/${name}_c.c)
  set(server_c ${out}/${name}_s.c)
  file(MAKE_DIRECTORY ${out})

  add_custom_command(
    OUTPUT ${header} ${client_c} ${server_c}
    COMMAND ${KESTRANE_WIDL} --win64 ${prefix_args} -I${idl_dir} -h -H ${header} -c -C ${client_c} -s -S ${server_c} ${idl}
    DEPENDS ${idl}
    COMMENT "Generating RPC stubs for ${name}"
    VERBATIM)
  _kestrane_rpc_clang_object(${client_c} ${out}/${name}_c.o ${out})
  _kestrane_rpc_clang_object(${server_c} ${out}/${name}_s.o ${out})
  add_custom_target(${name}_stubs DEPENDS ${header} ${out}/${name}_c.o ${out}/${name}_s.o)

  foreach(side client server)
    string(SUBSTRING ${side} 0 1 letter)
    add_library(${name}_${side} INTERFACE)
    target_include_directories(${name}_${side} INTERFACE ${out})
    target_link_libraries(${name}_${side} INTERFACE ${out}/${name}_${letter}.o kestrane_rpc_support)
    add_dependencies(${name}_${side} ${name}_stubs)
  endforeach()
endfunction()
