# The programs' icon on Windows: packaging/tarnovid.svg rendered to an .ico at build time and linked
# in as the resource IDI_ICON1. Explorer and the Start menu show it, and Qt takes it as every
# window's default icon (this Qt has no SVG icon engine to draw the SVG itself).

if(WIN32)
  enable_language(RC)
  find_program(TARNOVID_RSVG_CONVERT rsvg-convert)
  find_program(TARNOVID_ICOTOOL icotool)
  if(TARNOVID_RSVG_CONVERT AND TARNOVID_ICOTOOL)
    set(TARNOVID_WINDOWS_ICON ${CMAKE_BINARY_DIR}/packaging/tarnovid.ico)
    set(_sizes 16 24 32 48 256)
    set(_pngs)
    set(_render)
    foreach(size IN LISTS _sizes)
      set(png ${CMAKE_BINARY_DIR}/packaging/tarnovid-${size}.png)
      list(APPEND _render COMMAND ${TARNOVID_RSVG_CONVERT} -w ${size} -h ${size}
        -o ${png} ${PROJECT_SOURCE_DIR}/packaging/tarnovid.svg)
      # Vista and later read the largest size as embedded PNG; the small ones stay bitmaps for
      # everything else that reads the file.
      if(size EQUAL 256)
        list(APPEND _pngs --raw=${png})
      else()
        list(APPEND _pngs ${png})
      endif()
    endforeach()
    add_custom_command(OUTPUT ${TARNOVID_WINDOWS_ICON}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
      ${_render}
      COMMAND ${TARNOVID_ICOTOOL} -c -o ${TARNOVID_WINDOWS_ICON} ${_pngs}
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/tarnovid.svg
      COMMENT "Rendering the Windows icon from tarnovid.svg"
      VERBATIM)
    add_custom_target(tarnovid_windows_icon DEPENDS ${TARNOVID_WINDOWS_ICON})
    file(WRITE ${CMAKE_BINARY_DIR}/packaging/tarnovid.rc
      "IDI_ICON1 ICON \"${TARNOVID_WINDOWS_ICON}\"\n")
  else()
    message(WARNING "rsvg-convert or icotool missing: the Windows programs get no icon")
  endif()
endif()

# Gives a program the icon where there is one to give; elsewhere it does nothing.
function(tarnovid_windows_icon target)
  if(TARNOVID_WINDOWS_ICON)
    set(rc ${CMAKE_BINARY_DIR}/packaging/tarnovid.rc)
    target_sources(${target} PRIVATE ${rc})
    # The resource compiler reads the .ico, which its dependency scan does not see.
    set_source_files_properties(${rc} TARGET_DIRECTORY ${target}
      PROPERTIES OBJECT_DEPENDS ${TARNOVID_WINDOWS_ICON})
    add_dependencies(${target} tarnovid_windows_icon)
  endif()
endfunction()
