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

# The layers of the module (see cmake/Layers.cmake), each a library of its own folder.
add_library(ravelpak_base STATIC base/text.cpp base/files.cpp base/disk_gate.cpp base/output_file.cpp)
ravelpak_layer(ravelpak_base base)
target_link_libraries(ravelpak_base PUBLIC ravelpak_base_portable)

add_library(ravelpak_zip STATIC engine/zip/zip_reader.cpp)
ravelpak_layer(ravelpak_zip base engine/zip)
target_link_libraries(ravelpak_zip PUBLIC ravelpak_base ravelpak_formats_portable minizip)

add_library(ravelpak_settings STATIC settings/unpack_settings.cpp settings/settings_file.cpp)
ravelpak_layer(ravelpak_settings base settings)
target_link_libraries(ravelpak_settings PUBLIC ravelpak_base ravelpak_xml)

add_library(ravelpak_engine STATIC
    engine/job_progress.cpp
    engine/journal.cpp
    engine/pack_driver.cpp
    engine/par2_stage.cpp
    engine/rar5_files.cpp
    engine/rar_deleting_copy.cpp
    engine/rar_names.cpp
    engine/rar_stage.cpp
    engine/release_names.cpp
    engine/sfv.cpp
    engine/source_deletion.cpp
    engine/temp_file_cleanup.cpp
    engine/unpack_context.cpp
    engine/unpack_group.cpp
    engine/unrar_library.cpp
    engine/volume_alias.cpp
    engine/zip_stage.cpp
    engine/zip_stream.cpp)
ravelpak_layer(ravelpak_engine base engine settings)
target_link_libraries(ravelpak_engine PUBLIC ravelpak_formats_portable ravelpak_par2 ravelpak_zip ravelpak_settings)

# The settings dialog and its controls.
add_library(ravelpak_ui STATIC
    ui/window.cpp
    ui/bitmap_button.cpp
    ui/edit_list_box.cpp
    ui/config_dialog.cpp
    ui/resource_module.cpp)
ravelpak_layer(ravelpak_ui base settings ui resources/resource.h)
target_link_libraries(ravelpak_ui PUBLIC ravelpak_settings comctl32 gdi32)

# The host's side of the entry points: its progress callback, for the module and the tests.
add_library(ravelpak_host STATIC host/progress.cpp)
ravelpak_layer(ravelpak_host base engine settings host)
target_link_libraries(ravelpak_host PUBLIC ravelpak_engine)

foreach(library ravelpak_base ravelpak_zip ravelpak_settings ravelpak_engine ravelpak_ui ravelpak_host)
    target_compile_definitions(${library} PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    target_compile_options(${library} PRIVATE -Wall -Wextra)
endforeach()

# The dialog, string and bitmaps; the bitmaps are drawn by resources/images/draw.sh.
set(RAVELPAK_IMAGES ${CMAKE_SOURCE_DIR}/resources/images/banner.bmp ${CMAKE_SOURCE_DIR}/resources/images/banner_chs.bmp
    ${CMAKE_SOURCE_DIR}/resources/images/buttons.bmp)
set_source_files_properties(resources/ravelpak.rc resources/ravelpak_chs.rc PROPERTIES
    OBJECT_DEPENDS "${RAVELPAK_IMAGES};${CMAKE_SOURCE_DIR}/resources/resource.h")

# The module as shipped, and a test build of it that also exports queries for the tests.
function(ravelpak_module_target target output_name)
    add_library(${target} SHARED ${CMAKE_SOURCE_DIR}/host/dll_main.cpp ${CMAKE_SOURCE_DIR}/host/exports.cpp
        ${CMAKE_SOURCE_DIR}/host/ravelpak.def ${CMAKE_SOURCE_DIR}/resources/ravelpak.rc ${ARGN})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name} PREFIX "" SUFFIX ".wcx64")
    ravelpak_layer(${target} base engine settings host ui resources)
    target_link_libraries(${target} PRIVATE ravelpak_host ravelpak_ui)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    ravelpak_static_runtime(${target})
    ravelpak_version_resource(${target} "Ravelpak: verifies and unpacks downloaded releases" ${output_name}.wcx64)
endfunction()
ravelpak_module_target(ravelpak_module ravelpak)

# The Simplified Chinese language module: resources only. It is built into lang/, since
# beside the module it replaces every resource; the user copies it there to use it.
add_library(ravelpak_chs SHARED resources/ravelpak_chs.rc)
set_target_properties(ravelpak_chs PROPERTIES PREFIX "" LINKER_LANGUAGE C
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/lang)
target_include_directories(ravelpak_chs PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(ravelpak_chs PRIVATE -nostdlib -Wl,--entry=0)
ravelpak_version_resource(ravelpak_chs "Ravelpak: Simplified Chinese resources" ravelpak_chs.dll)
add_dependencies(ravelpak_module ravelpak_chs)

add_executable(wcxhost tools/wcxhost/wcxhost.cpp)
ravelpak_layer(wcxhost host/wcx.h)
target_compile_definitions(wcxhost PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_options(wcxhost PRIVATE -Wall -Wextra)
ravelpak_static_runtime(wcxhost)
ravelpak_version_resource(wcxhost "Ravelpak host stand-in: drives a WCX packer plugin" wcxhost.exe)

add_executable(bench_crc bench/crc_throughput.cpp)
ravelpak_layer(bench_crc base)
target_link_libraries(bench_crc PRIVATE ravelpak_base)
ravelpak_static_runtime(bench_crc)

# PAR2's region products, MD5 and the rebuild, as under Wine (bench/par2_kernels.sh runs the
# native build of the same program).
add_executable(bench_gf16 bench/gf16_throughput.cpp)
ravelpak_layer(bench_gf16 base/byte_source.h base/md5.h engine/par2)
target_link_libraries(bench_gf16 PRIVATE ravelpak_par2)
ravelpak_static_runtime(bench_gf16)

add_executable(bench_create bench/create_files.cpp)
ravelpak_layer(bench_create base)
target_link_libraries(bench_create PRIVATE ravelpak_base)
ravelpak_static_runtime(bench_create)
include(cmake/Dist.cmake)
