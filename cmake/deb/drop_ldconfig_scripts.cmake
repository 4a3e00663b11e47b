# Run by CPack after it built the packages (CPACK_POST_BUILD_SCRIPTS).
# CPack writes ldconfig calls into the postinst and postrm of every package
# that holds a shared library; dpkg's ldconfig trigger (the triggers file of
# libveltrano1) does that work now, so those two scripts are taken out of
# the library package again. Nothing else of the package changes.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${deb}" NAME)
  if(NOT name MATCHES "^libveltrano1_.*\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/unpacked-${name}")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot unpack ${deb}")
  endif()
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${deb}" OUTPUT_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot pack ${deb} again")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
