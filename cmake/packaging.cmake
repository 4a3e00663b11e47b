# `cpack -G DEB` builds the Debian package from the install rules: the
# program, its man page and bash completion, and the system-wide Dolphin and
# Nemo entries. The version is the project's own.
set(CPACK_PACKAGE_NAME "veltrano")
set(CPACK_PACKAGE_VENDOR "Veltrano")
set(VELTRANO_MAINTAINER "Veltrano developers <dev@veltrano.invalid>")
set(CPACK_PACKAGE_CONTACT "${VELTRANO_MAINTAINER}")
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

# The library goes into two packages of its own, as Debian lays libraries
# out: libveltrano1, the shared library alone (named after its soname, so
# that programs built against it depend on just that, and a later soname can
# be installed beside it), and libveltrano-dev, what building against it
# takes (header, pkg-config file, the .so link, the static library). The
# command's install rules carry no component, so the package of the
# "Unspecified" component is the veltrano package, as before.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified library development)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME "veltrano")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME "libveltrano1")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION "libs")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SUGGESTS "")
# The linker cache is updated by dpkg's ldconfig trigger; the ldconfig calls
# CPack writes into the maintainer scripts are taken out after the build.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/deb/libveltrano1/triggers"
    "${CMAKE_CURRENT_LIST_DIR}/deb/libveltrano1/symbols")
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/deb/drop_ldconfig_scripts.cmake")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# One summary line serves the three packages (CPack takes it for all);
# each has its own long description.
set(CPACK_COMPONENT_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "\
libveltrano finds the full-size JPEG that cameras embed in almost every RAW
file and hands it out as one buffer, with an Exif block added when the
preview carries none, and reports what the file records (camera, capture
time, exposure, orientation). This is the C interface of veltrano, for
programs that need previews by the hundred thousand.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME "libveltrano-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS "")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libveltrano1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "\
The development files of libveltrano, the C interface of veltrano, which
finds the full-size JPEG that cameras embed in almost every RAW file and
hands it out as one buffer: the header veltrano.h, the pkg-config file
veltrano.pc and the static library.")
# The shared library's dependency line for the programs built against it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Each package's /usr/share/doc/<package>: the copyright file (Debian's
# machine-readable format) and the changelog, gzipped as Debian has it.
if(NOT WIN32)
  include(GNUInstallDirs)
  set(VELTRANO_DEB_DOC ${CMAKE_BINARY_DIR}/deb-doc)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/copyright.in ${VELTRANO_DEB_DOC}/copyright @ONLY)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/changelog.in ${VELTRANO_DEB_DOC}/changelog @ONLY)
  find_program(VELTRANO_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${VELTRANO_DEB_DOC}/changelog.gz
                     COMMAND ${VELTRANO_GZIP} -9nc ${VELTRANO_DEB_DOC}/changelog > ${VELTRANO_DEB_DOC}/changelog.gz
                     DEPENDS ${VELTRANO_DEB_DOC}/changelog VERBATIM)
  add_custom_target(veltrano_deb_changelog ALL DEPENDS ${VELTRANO_DEB_DOC}/changelog.gz)
  foreach(pair "Unspecified;veltrano" "library;libveltrano1" "development;libveltrano-dev")
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${VELTRANO_DEB_DOC}/copyright ${VELTRANO_DEB_DOC}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()
include(CPack)
