# What Debian builds its own packages with: buffer-overflow checks in the C library's string and
# memory calls, and relocations resolved and made read-only at start-up. The sanitizer builds
# instrument those calls themselves and are left alone.
if(LINUX AND NOT TARNOVID_SANITIZE AND NOT MSVC)
  # _FORTIFY_SOURCE needs the optimizer; a Debug build would only warn about it.
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
