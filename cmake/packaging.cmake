# `cpack -G DEB` in the build folder makes a Debian package of what `cmake --install` puts
# in place, under /usr. Its dependencies are the packages of the shared libraries the
# programs link (dpkg-shlibdeps), plus what Qt loads at run time, which no linker sees.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME framix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Framix authors")
set(CPACK_PACKAGE_CONTACT "The Framix authors <framix@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://framix.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "video player that saves exact frames as pictures")
set(CPACK_PACKAGE_DESCRIPTION
"Framix plays MPEG, AVI, WMV, MP4, MOV, MKV and other videos frame by frame and
saves frames as BMP, PNG, JPEG, TIFF or WebP pictures, bit for bit what the
decoder produces: the frame on screen, every frame, a range, every N-th frame,
the keyframes or the first frame of each scene, with a CSV list of the frames.

The package also holds framix-grab, which saves frames from the command line
and prints a checksum of each decoded frame.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(FRAMIX_BUILD_GUI)
    # The window system connection (xcb, wayland) is a plugin Qt loads when it starts.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
    # Help > Help Topics and the home page link are handed to xdg-open.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")

include(CPack)
