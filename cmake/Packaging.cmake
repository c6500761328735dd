# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh runs it). It holds the
# install tree under /usr; its library dependencies are found by dpkg-shlibdeps.

# Whoever builds packages for users sets their own address here; it goes into the package's
# control file and its changelog.
set(MELVORA_PACKAGE_MAINTAINER "Melvora developers <melvora@example.org>" CACHE STRING
    "Maintainer of the Debian package: name <address>")

install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/melvora)
# Debian wants the package's changelog compressed, with no time stamp in the gzip header.
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
set(melvora_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${melvora_changelog}
                   COMMAND gzip -9 -n -c ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${melvora_changelog}
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(melvora_changelog ALL DEPENDS ${melvora_changelog})
install(FILES ${melvora_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/melvora)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME melvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MELVORA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lay background music under a video")
set(CPACK_PACKAGE_DESCRIPTION
    "Melvora writes a new copy of a video with a music file laid under it: the
video streams are copied unchanged, and the sound track is the video's own
sound mixed with the music, or, for a silent video, the music alone repeated
over the whole video. The music's and the voice's levels, a loudness target,
fades, a delay, looping with crossfades and ducking under speech can be set.
It has a desktop window (melvora) in seven languages and a command-line
program (melvora-cli) that also mixes many videos at once.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${MELVORA_HOMEPAGE_URL}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The X11 platform plugin comes with the Qt libraries; the Wayland one is a package of its own.
# Qt opens the output folder and the help page with xdg-open where the desktop offers nothing
# of its own; the window's texts, Chinese and Japanese among them, want a CJK font.
if(MELVORA_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils, fonts-noto-cjk")
endif()
include(CPack)
