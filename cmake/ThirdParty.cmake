# Third-party code that the Windows build compiles from Debian's source packages, fetched by
# tools/install-deps.sh into RAVELPAK_DEPS_DIR: zlib's minizip and the UnRAR library.

set(ZLIB_SOURCE_DIR ${RAVELPAK_DEPS_DIR}/src/zlib)
set(UNRAR_SOURCE_DIR ${RAVELPAK_DEPS_DIR}/src/unrar)
foreach(dir ${ZLIB_SOURCE_DIR}/contrib/minizip ${UNRAR_SOURCE_DIR})
    if(NOT EXISTS ${dir})
        message(FATAL_ERROR "${dir} is missing: run tools/install-deps.sh (make does it for you)")
    endif()
endforeach()

# minizip's reading half over the cross build's static zlib.
find_library(MINGW_ZLIB NAMES libz.a z REQUIRED)
add_library(minizip STATIC
    ${ZLIB_SOURCE_DIR}/contrib/minizip/unzip.c
    ${ZLIB_SOURCE_DIR}/contrib/minizip/ioapi.c)
target_include_directories(minizip SYSTEM PUBLIC ${ZLIB_SOURCE_DIR}/contrib/minizip)
target_link_libraries(minizip PUBLIC ${MINGW_ZLIB})
target_compile_options(minizip PRIVATE -w)

# unrar64.dll, loaded by the module at run time.
set(UNRAR_NAMES
    rar strlist strfn pathfn smallfn global file filefn filcreat archive arcread unicode
    system crypt crc rawread encname resource match timefn rdwrfn consio options errhnd
    rarvm secpassword rijndael getbits sha1 sha256 blake2s hash extinfo extract volume list
    find unpack headers threadpool rs16 cmddata ui filestr scantree dll qopen isnt)
list(TRANSFORM UNRAR_NAMES PREPEND ${UNRAR_SOURCE_DIR}/)
list(TRANSFORM UNRAR_NAMES APPEND .cpp)

# The sources include two Windows headers by names whose case mingw-w64 does not use.
set(UNRAR_HEADER_ALIASES ${CMAKE_BINARY_DIR}/unrar-include)
file(MAKE_DIRECTORY ${UNRAR_HEADER_ALIASES})
foreach(pair "PowrProf.h:powrprof.h" "Wbemidl.h:wbemidl.h")
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 alias)
    list(GET pair 1 real)
    # Written only when it changes: a newer header would compile the whole library again.
    file(CONFIGURE OUTPUT ${UNRAR_HEADER_ALIASES}/${alias} CONTENT "#include <${real}>\n")
endforeach()

add_library(unrar64 SHARED ${UNRAR_NAMES} ${CMAKE_SOURCE_DIR}/tools/unrar/bstr_conversion.cpp
    ${CMAKE_SOURCE_DIR}/tools/unrar/folding_crc32.cpp ${UNRAR_SOURCE_DIR}/dll.def)
# The library's CRC32 gives way to the folding one of tools/unrar/folding_crc32.cpp.
set_source_files_properties(${UNRAR_SOURCE_DIR}/crc.cpp PROPERTIES COMPILE_DEFINITIONS CRC32=TableCrc32)
target_link_libraries(unrar64 PRIVATE ravelpak_base_portable)
ravelpak_layer(unrar64 base/crc32.h)
set_target_properties(unrar64 PROPERTIES PREFIX "" OUTPUT_NAME unrar64 CXX_STANDARD 11 CXX_EXTENSIONS ON)
target_include_directories(unrar64 PRIVATE ${UNRAR_HEADER_ALIASES})
target_compile_definitions(unrar64 PRIVATE RARDLL SILENT UNRAR _WIN_ALL _WIN_64 _WIN32_WINNT=0x0601)
target_compile_options(unrar64 PRIVATE -O2 -w)
target_link_libraries(unrar64 PRIVATE ole32 oleaut32 wbemuuid powrprof shlwapi uuid)
ravelpak_static_runtime(unrar64)
