# The release bundle: dist/ravelpak-VERSION.zip, in the layout that Total Commander's plugin
# installer reads (pluginst.inf at the top), built with every build.
set(DIST_NAME ravelpak-${RAVELPAK_VERSION})
set(DIST_ZIP ${CMAKE_SOURCE_DIR}/dist/${DIST_NAME}.zip)
set(DIST_STAGE ${CMAKE_BINARY_DIR}/dist/${DIST_NAME})
set(DIST_TEXTS ${CMAKE_BINARY_DIR}/dist/texts)

# Text files in the Windows way, with the version filled in.
configure_file(${CMAKE_SOURCE_DIR}/packaging/pluginst.inf ${DIST_TEXTS}/pluginst.inf @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/packaging/readme.txt ${DIST_TEXTS}/readme.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${DIST_TEXTS}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${UNRAR_SOURCE_DIR}/license.txt ${DIST_TEXTS}/unrar-license.txt @ONLY NEWLINE_STYLE CRLF)

set(DIST_FILES pluginst.inf readme.txt LICENSE.txt ravelpak.wcx64 unrar64.dll unrar-license.txt wcxhost.exe
    lang/ravelpak_chs.dll)
add_custom_command(OUTPUT ${DIST_ZIP}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${DIST_STAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${DIST_STAGE}/lang ${CMAKE_SOURCE_DIR}/dist
    COMMAND ${CMAKE_COMMAND} -E copy ${DIST_TEXTS}/pluginst.inf ${DIST_TEXTS}/readme.txt ${DIST_TEXTS}/LICENSE.txt
        ${DIST_TEXTS}/unrar-license.txt $<TARGET_FILE:ravelpak_module> $<TARGET_FILE:unrar64>
        $<TARGET_FILE:wcxhost> ${DIST_STAGE}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ravelpak_chs> ${DIST_STAGE}/lang
    COMMAND ${CMAKE_COMMAND} -E rm -f ${DIST_ZIP}
    COMMAND ${CMAKE_COMMAND} -E chdir ${DIST_STAGE} ${CMAKE_COMMAND} -E tar cf ${DIST_ZIP} --format=zip ${DIST_FILES}
    DEPENDS ravelpak_module unrar64 wcxhost ravelpak_chs ${DIST_TEXTS}/pluginst.inf ${DIST_TEXTS}/readme.txt
        ${DIST_TEXTS}/LICENSE.txt ${DIST_TEXTS}/unrar-license.txt
    COMMENT "Bundling ${DIST_NAME}.zip"
    VERBATIM)
add_custom_target(dist ALL DEPENDS ${DIST_ZIP})
