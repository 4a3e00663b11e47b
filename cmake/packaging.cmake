# `cpack -G DEB` builds the Debian package from the install rules: the
# program, its man page and bash completion, and the system-wide Dolphin and
# Nemo entries. The version is the project's own.
set(CPACK_PACKAGE_NAME "veltrano")
set(CPACK_PACKAGE_VENDOR "Veltrano")
set(CPACK_PACKAGE_CONTACT "Veltrano maintainers <veltrano@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract the embedded JPEG previews of camera RAW files")
set(CPACK_PACKAGE_DESCRIPTION "\
Cameras hide a full-size JPEG inside almost every RAW file. veltrano finds it,
copies it out byte for byte as an ordinary JPEG file, adds an Exif block when
the preview carries none, and can write scaled-down copies. The package adds
the entry Extract JPEG previews (Veltrano) to the Dolphin and Nemo context
menus; `veltrano desktop install` adds it to Nautilus and Thunar too.")
set(CPACK_STRIP_FILES ON)
# The package puts files where the build's install rules do, so the paths
# written into the Dolphin and Nemo entries hold (configure the package build
# with -DCMAKE_INSTALL_PREFIX=/usr).
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The library dependencies come from the linked libraries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libnotify-bin")
include(CPack)
