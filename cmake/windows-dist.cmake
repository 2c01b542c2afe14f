# The Windows release files, made by the i686 build (`make dist`):
#   dsp_redozer-VERSION-setup.exe  the player's installer (NSIS, Debian's makensis)
#   dsp_redozer-VERSION-win32.zip  the DLL and README.txt, for copying by hand
# Both go to REDOZER_DIST_DIR. The text files are written with Windows line ends.
find_program(REDOZER_MAKENSIS makensis)

set(dist_files ${CMAKE_BINARY_DIR}/dist-files)
set(dist_setup ${REDOZER_DIST_DIR}/dsp_redozer-${PROJECT_VERSION}-setup.exe)
set(dist_zip ${REDOZER_DIST_DIR}/dsp_redozer-${PROJECT_VERSION}-win32.zip)
configure_file(${PROJECT_SOURCE_DIR}/installer/README.txt.in ${dist_files}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${dist_files}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

add_custom_command(OUTPUT ${dist_zip}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${REDOZER_DIST_DIR} ${dist_files}/zip
                   COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:dsp_redozer> ${dist_files}/README.txt
                           ${dist_files}/zip/
                   COMMAND ${CMAKE_COMMAND} -E rm -f ${dist_zip}
                   COMMAND ${CMAKE_COMMAND} -E chdir ${dist_files}/zip
                           ${CMAKE_COMMAND} -E tar cf ${dist_zip} --format=zip dsp_redozer.dll README.txt
                   DEPENDS dsp_redozer ${dist_files}/README.txt
                   COMMENT "Packing ${dist_zip}" VERBATIM)

if(REDOZER_MAKENSIS)
  add_custom_command(OUTPUT ${dist_setup}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${REDOZER_DIST_DIR}
                     COMMAND ${REDOZER_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION}
                             "-DPRODUCT=${REDOZER_PRODUCT_NAME}" "-DPUBLISHER=${REDOZER_PUBLISHER}"
                             "-DCOPYRIGHT=${REDOZER_COPYRIGHT}" "-DHOMEPAGE=${REDOZER_HOMEPAGE}"
                             -DDLL=$<TARGET_FILE:dsp_redozer> -DLICENSE=${dist_files}/LICENSE.txt
                             -DOUTFILE=${dist_setup} ${PROJECT_SOURCE_DIR}/installer/dsp_redozer.nsi
                     DEPENDS dsp_redozer ${PROJECT_SOURCE_DIR}/installer/dsp_redozer.nsi
                             ${dist_files}/LICENSE.txt
                     COMMENT "Building the installer ${dist_setup}" VERBATIM)
  add_custom_target(dist ALL DEPENDS ${dist_setup} ${dist_zip})
else()
  message(WARNING "makensis (Debian package nsis) not found: no installer is built")
  add_custom_target(dist ALL DEPENDS ${dist_zip})
endif()
