# An installed binary of the package loses, with its symbols, the compiler's
# .comment and .note sections as well (as Debian's own packages do), when
# the install strips (CPack's does). Call after the target's install rule.
function(veltrano_install_strip_notes target destination component)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    # Static libraries keep the symbols a link needs; only debug data goes.
    set(strip_options --strip-debug --enable-deterministic-archives)
  else()
    set(strip_options --strip-unneeded)
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" ${strip_options} --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component})
endfunction()
