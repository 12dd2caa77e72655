# The native Linux build of the portable code, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the libFuzzer targets when clang is the compiler.
set(RAVELPAK_SANITIZERS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
target_compile_options(ravelpak_portable PUBLIC ${RAVELPAK_SANITIZERS})
target_link_options(ravelpak_portable PUBLIC ${RAVELPAK_SANITIZERS})
find_package(GTest REQUIRED)
