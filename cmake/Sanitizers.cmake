# Sanitizers apply to the whole tree so that every object shares one runtime.
if(TARNOVID_SANITIZE)
  list(JOIN TARNOVID_SANITIZE "," _tarnovid_sanitizers)
  add_compile_options(-fsanitize=${_tarnovid_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_tarnovid_sanitizers})
endif()
