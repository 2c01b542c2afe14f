# Installation and release packages.
#   Linux:   install() rules (make install, PREFIX and DESTDIR honoured) and the
#            Debian package made from them by CPack (make deb).
#   Windows: the i686 build makes the player's installer and the zip (make dist).
# Included at the end of the top-level CMakeLists.txt, after every target.

if(WIN32)
  # The shipped DLL is the 32-bit one; the x86_64 build makes no packages.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    include(${CMAKE_CURRENT_LIST_DIR}/windows-dist.cmake)
  endif()
  return()
endif()

# ---- Installed layout ----------------------------------------------------------
#   bin/dsphost
#   lib/dsp_redozer/dsp_redozer.so      loaded by dsphost, never linked against,
#                                       so it stays off the library path
#   lib/lv2/dsp_redozer.lv2/            the LV2 bundle (plug-ins and their UI), where LV2 hosts look
#   lib/ladspa/dsp_redozer_ladspa.so    where LADSPA hosts look
#   lib/<multiarch>/obs-plugins/redozer-obs.so  where Debian's OBS Studio looks
#                                       (with PREFIX /usr, as the package has it)
#   share/man/man1/dsphost.1.gz
#   share/doc/dsp-redozer/              README.md and LICENSE
# dsphost finds the plug-in in ../lib/dsp_redozer/ (host/plugin_path.cpp).
# LV2 and LADSPA hosts search lib/lv2 and lib/ladspa, not the multiarch folder,
# so these paths are fixed rather than taken from GNUInstallDirs.
set(REDOZER_DOC_DIR share/doc/dsp-redozer)

install(TARGETS dsphost RUNTIME DESTINATION bin)
install(TARGETS dsp_redozer LIBRARY DESTINATION lib/dsp_redozer)

# The man page, compressed as man expects it in a package (-n: no time stamp,
# so the package is the same from build to build).
configure_file(${PROJECT_SOURCE_DIR}/man/dsphost.1.in ${CMAKE_BINARY_DIR}/man/dsphost.1 @ONLY)
set(REDOZER_MAN_PAGE ${CMAKE_BINARY_DIR}/man/dsphost.1.gz)
add_custom_command(OUTPUT ${REDOZER_MAN_PAGE}
                   COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${CMAKE_BINARY_DIR}/man/dsphost.1
                           ${REDOZER_MAN_PAGE}
                   DEPENDS ${CMAKE_BINARY_DIR}/man/dsphost.1
                   COMMENT "Compressing the dsphost man page" VERBATIM)
add_custom_target(dsphost_man ALL DEPENDS ${REDOZER_MAN_PAGE})
install(FILES ${REDOZER_MAN_PAGE} DESTINATION share/man/man1)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${REDOZER_DOC_DIR})
# The Debian package carries the licence in its copyright file instead.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${REDOZER_DOC_DIR} COMPONENT licence)

# Everything the install rules copy, for `make install` and `make deb` to build
# (installing, and so packaging, does not build the tests first).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(installables)
add_dependencies(installables dsphost dsp_redozer dsphost_man)

# The LV2 bundle and the LADSPA library, when this build has them. The bundle's
# library goes through install(TARGETS) so that packaging strips it.
if(TARGET dsp_redozer_lv2)
  install(TARGETS dsp_redozer_lv2 dsp_redozer_ui LIBRARY DESTINATION lib/lv2/dsp_redozer.lv2)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/lv2/dsp_redozer.lv2/ DESTINATION lib/lv2/dsp_redozer.lv2
          FILES_MATCHING PATTERN "*.ttl")
  add_dependencies(installables dsp_redozer_lv2)
endif()
if(TARGET dsp_redozer_ladspa)
  install(TARGETS dsp_redozer_ladspa LIBRARY DESTINATION lib/ladspa)
  add_dependencies(installables dsp_redozer_ladspa)
endif()
# The OBS module, when libobs was found. It has no data files (its texts are
# the port table's), so nothing goes to share/obs/obs-plugins/redozer-obs/.
if(TARGET redozer_obs)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(REDOZER_OBS_INSTALL_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/obs-plugins)
  else()
    set(REDOZER_OBS_INSTALL_DIR lib/obs-plugins)
  endif()
  install(TARGETS redozer_obs LIBRARY DESTINATION ${REDOZER_OBS_INSTALL_DIR})
  add_dependencies(installables redozer_obs)
endif()

# ---- Debian package (cpack -G DEB, see `make deb`) ------------------------------
# The Debian copyright file (which holds the licence) and changelog go only into
# the package, in place of the plain LICENSE that make install copies: a
# script that CPack runs while staging.
set(REDOZER_MAINTAINER "yarq <enhancers@yarq.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
configure_file(${PROJECT_SOURCE_DIR}/installer/debian-copyright.in
               ${CMAKE_BINARY_DIR}/package-files/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/installer/debian-changelog.in
               ${CMAKE_BINARY_DIR}/package-files/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb-docs.cmake.in
               ${CMAKE_BINARY_DIR}/package-files/deb-docs.cmake @ONLY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dsp-redozer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${REDOZER_PUBLISHER})
set(CPACK_PACKAGE_CONTACT ${REDOZER_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio enhancer: leveller, multiband compressor and limiter")
# CPack puts the summary first and indents these lines as Debian wants them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "yarq's Audio Enhancers make music louder, more even and clean without
clipping: a three-band equalizer and a single-band leveller with stereo
widening, or a multiband chain with input AGC, up to four bands, soft
clipping and a lookahead peak limiter.

This package holds dsphost, a command-line tool that runs the enhancer over
audio files as a media player would, the enhancer's plug-in library, its LV2
and LADSPA plug-ins and, where it was built with OBS Studio's libobs, an OBS
Studio audio filter.")
# The OBS module takes libobs from OBS when OBS loads it, so the package does
# not pull OBS's libraries in for those who never run OBS.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "obs-studio")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${REDOZER_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Every component but the plain licence.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
set(CPACK_INSTALL_SCRIPTS ${CMAKE_BINARY_DIR}/package-files/deb-docs.cmake)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_OUTPUT_FILE_PREFIX ${REDOZER_DIST_DIR})
include(CPack)
