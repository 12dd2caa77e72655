# The native Linux build of the portable code, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the libFuzzer targets when clang is the compiler.
set(RAVELPAK_SANITIZERS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
set(RAVELPAK_PORTABLE_LIBRARIES ravelpak_base_portable ravelpak_xml ravelpak_formats_portable ravelpak_par2)
foreach(library ${RAVELPAK_PORTABLE_LIBRARIES})
    target_compile_options(${library} PUBLIC ${RAVELPAK_SANITIZERS})
    target_link_options(${library} PUBLIC ${RAVELPAK_SANITIZERS})
    # The fuzz targets are guided by the coverage of the code they reach, which is here.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endforeach()
# In the readers of downloaded bytes an offset or a size that wraps around is a fault: a loop
# that runs back, a check that passes. Their own arithmetic is meant never to wrap; the CRC
# code and MD5, whose arithmetic wraps by design, are left out.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set_property(SOURCE ${RAVELPAK_FORMATS_SOURCES} ${RAVELPAK_PAR2_SOURCES} base/names.cpp
        APPEND PROPERTY COMPILE_OPTIONS -fsanitize=unsigned-integer-overflow)
endif()
find_package(GTest REQUIRED)
