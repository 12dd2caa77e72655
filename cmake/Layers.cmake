# The layers of the product and the arrows between them, as the README's Layout shows them:
# wcxhost uses host/wcx.h only; host uses engine, settings and ui; engine uses engine/zip,
# engine/par2 and settings; settings uses settings/xml; ui uses settings; every layer uses
# base, and base nothing. A layer's code is compiled with an include root of its own that holds
# only the folders it may use, so that an include against the arrows fails to compile.

# ravelpak_layer(target path...): `target` sees these files and folders of the source tree, each
# under its own path ("base", "engine/zip", "host/wcx.h"), and nothing else of it.
function(ravelpak_layer target)
    set(root ${CMAKE_BINARY_DIR}/layers/${target})
    # Made anew at each configuration; the links are removed, not followed.
    file(REMOVE_RECURSE ${root})
    foreach(path ${ARGN})
        get_filename_component(parent ${root}/${path} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PRIVATE ${root})
endfunction()

# Code without any Win32 dependency; built for Windows and natively with sanitizers.
add_library(ravelpak_base_portable STATIC base/crc32.cpp base/crc32_clmul.cpp base/md5.cpp base/names.cpp base/sha256.cpp
    base/utf8.cpp)
ravelpak_layer(ravelpak_base_portable base)
add_library(ravelpak_xml STATIC settings/xml/xml_param.cpp settings/xml/xml_stream.cpp)
ravelpak_layer(ravelpak_xml base/utf8.h settings/xml)
target_link_libraries(ravelpak_xml PUBLIC ravelpak_base_portable)
# The engine's readers of bytes that come from downloads or lie on the disk: RAR 5 and RAR 4
# headers, SFV texts, ZIP extra fields and the group's journal. They see only the portable
# headers of base and their own.
set(RAVELPAK_FORMATS_SOURCES engine/rar_layout.cpp engine/rar5_layout.cpp engine/rar4_layout.cpp
    engine/sfv_list.cpp engine/zip/zip_entry_fields.cpp engine/journal_format.cpp)
add_library(ravelpak_formats_portable STATIC ${RAVELPAK_FORMATS_SOURCES})
ravelpak_layer(ravelpak_formats_portable base/byte_source.h base/crc32.h base/names.h base/utf8.h engine/rar_layout.h
    engine/rar5_layout.h engine/rar4_layout.h engine/sfv_list.h engine/zip/zip_entry_fields.h
    engine/journal_format.h base/sha256.h)
target_link_libraries(ravelpak_formats_portable PUBLIC ravelpak_base_portable)
# PAR2: its packets, the GF(2^16) arithmetic of its recovery data, verification and repair. A
# layer of its own, on the portable headers of base only.
set(RAVELPAK_PAR2_SOURCES engine/par2/gf16.cpp engine/par2/gf16_ssse3.cpp engine/par2/gf16_avx2.cpp
    engine/par2/par2_packets.cpp engine/par2/par2_repair.cpp
    engine/par2/par2_verify.cpp)
add_library(ravelpak_par2 STATIC ${RAVELPAK_PAR2_SOURCES})
ravelpak_layer(ravelpak_par2 base/byte_source.h base/crc32.h base/md5.h base/names.h base/utf8.h engine/par2)
target_link_libraries(ravelpak_par2 PUBLIC ravelpak_base_portable)
if(NOT MSVC)
    set_source_files_properties(base/crc32_clmul.cpp PROPERTIES COMPILE_OPTIONS "-mpclmul;-msse4.1")
    # MD5 and the field's products run over every byte that PAR2 verifies or repairs: optimised
    # in every build, so that the debug build's tests hash their files in moments.
    set_property(SOURCE base/md5.cpp engine/par2/gf16.cpp engine/par2/gf16_ssse3.cpp engine/par2/gf16_avx2.cpp
        APPEND PROPERTY COMPILE_OPTIONS -O2)
    # The field's SIMD kernels, each built for its instructions and called only where the
    # processor has them. mingw-w64's GCC may spill 32-byte registers to a stack slot aligned to
    # 16 bytes only and then use an aligned move on it: the assembler makes every such move an
    # unaligned one.
    set_property(SOURCE engine/par2/gf16_ssse3.cpp APPEND PROPERTY COMPILE_OPTIONS -mssse3)
    set_property(SOURCE engine/par2/gf16_avx2.cpp APPEND PROPERTY COMPILE_OPTIONS -mavx2)
    if(WIN32)
        set_property(SOURCE engine/par2/gf16_avx2.cpp APPEND PROPERTY COMPILE_OPTIONS -Wa,-muse-unaligned-vector-move)
    endif()
    foreach(library ravelpak_base_portable ravelpak_xml ravelpak_formats_portable ravelpak_par2)
        target_compile_options(${library} PRIVATE -Wall -Wextra)
    endforeach()
endif()
