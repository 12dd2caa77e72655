# The native Linux build of the portable code, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the libFuzzer targets when clang is the compiler.
set(RAVELPAK_SANITIZERS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
foreach(library ravelpak_base_portable ravelpak_xml)
    target_compile_options(${library} PUBLIC ${RAVELPAK_SANITIZERS})
    target_link_options(${library} PUBLIC ${RAVELPAK_SANITIZERS})
endforeach()
find_package(GTest REQUIRED)
