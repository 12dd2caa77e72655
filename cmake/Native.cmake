# The native Linux build of the portable code, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the libFuzzer targets when clang is the compiler.
# RAVELPAK_SANITIZE=OFF makes a plain build, for benchmarks (bench/par2_kernels.sh).
option(RAVELPAK_SANITIZE "Build the portable code with sanitizers" ON)
if(RAVELPAK_SANITIZE)
    set(RAVELPAK_SANITIZERS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
endif()
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
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND RAVELPAK_SANITIZE)
    set_property(SOURCE ${RAVELPAK_FORMATS_SOURCES} ${RAVELPAK_PAR2_SOURCES} base/names.cpp
        APPEND PROPERTY COMPILE_OPTIONS -fsanitize=unsigned-integer-overflow)
endif()
find_package(GTest REQUIRED)

# The throughput of PAR2's region products and of MD5 (bench/par2_kernels.sh builds it without
# sanitizers). With RAVELPAK_BENCH_GF_COMPLETE set to an unpacked source of GF-Complete, its
# region product is measured beside ours.
add_executable(bench_gf16 bench/gf16_throughput.cpp)
ravelpak_layer(bench_gf16 base/byte_source.h base/md5.h engine/par2)
target_link_libraries(bench_gf16 PRIVATE ravelpak_par2)
set(RAVELPAK_BENCH_GF_COMPLETE "" CACHE PATH "GF-Complete's unpacked source, measured by bench_gf16")
if(RAVELPAK_BENCH_GF_COMPLETE)
    file(GLOB GF_COMPLETE_SOURCES ${RAVELPAK_BENCH_GF_COMPLETE}/src/*.c)
    add_library(gf_complete STATIC ${GF_COMPLETE_SOURCES})
    target_include_directories(gf_complete PUBLIC ${RAVELPAK_BENCH_GF_COMPLETE}/include)
    target_compile_options(gf_complete PRIVATE -O3 -mssse3 -msse4.1 -mpclmul -w)
    target_compile_definitions(gf_complete PRIVATE INTEL_SSE2 INTEL_SSSE3 INTEL_SSE4 INTEL_SSE4_PCLMUL)
    target_link_libraries(bench_gf16 PRIVATE gf_complete)
    target_compile_definitions(bench_gf16 PRIVATE RAVELPAK_BENCH_GF_COMPLETE)
endif()
