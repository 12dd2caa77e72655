# The Windows build: the module, its engine library, the host stand-in and the third-party
# DLL, all linked against a static runtime so that they import Windows system DLLs only.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
enable_language(RC)

function(ravelpak_static_runtime target)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

# A version block for a binary of our own: ravelpak_version_resource(target "description" file).
function(ravelpak_version_resource target description filename)
    set(VERSION_DESCRIPTION ${description})
    set(VERSION_FILENAME ${filename})
    configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in ${CMAKE_BINARY_DIR}/version/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/version/${target}.rc)
endfunction()

include(cmake/ThirdParty.cmake)

# Everything behind the exports, linked by the module and by the tests.
add_library(ravelpak_core STATIC
    engine/pack_driver.cpp
    engine/sfv.cpp
    engine/unpack_group.cpp
    engine/zip/zip_reader.cpp
    engine/zip_stage.cpp
    host/progress.cpp)
target_link_libraries(ravelpak_core PUBLIC ravelpak_portable minizip imagehlp)
target_compile_definitions(ravelpak_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(ravelpak_core PRIVATE -Wall -Wextra)

add_library(ravelpak_module SHARED
    host/dll_main.cpp
    host/exports.cpp
    host/ravelpak.def)
set_target_properties(ravelpak_module PROPERTIES OUTPUT_NAME ravelpak PREFIX "" SUFFIX ".wcx64")
target_link_libraries(ravelpak_module PRIVATE ravelpak_core)
target_compile_options(ravelpak_module PRIVATE -Wall -Wextra)
ravelpak_static_runtime(ravelpak_module)
ravelpak_version_resource(ravelpak_module "Ravelpak: verifies and unpacks downloaded releases" ravelpak.wcx64)

add_executable(wcxhost tools/wcxhost/wcxhost.cpp)
target_include_directories(wcxhost PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(wcxhost PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_options(wcxhost PRIVATE -Wall -Wextra)
ravelpak_static_runtime(wcxhost)
ravelpak_version_resource(wcxhost "Ravelpak host stand-in: drives a WCX packer plugin" wcxhost.exe)

add_executable(bench_crc bench/crc_throughput.cpp)
target_link_libraries(bench_crc PRIVATE ravelpak_core)
ravelpak_static_runtime(bench_crc)
