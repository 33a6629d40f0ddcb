# What the Windows programs load at run time besides the system's own DLLs: Qt's DLLs and the
# plugins Qt loads by name, and the MinGW runtime. They are installed beside the programs (the
# installer and the zip carry them); a cross-build's tests find them in place when Wine runs them.
# Included before any target exists: the programs take their emulator when they are created.
if(NOT WIN32)
  return()
endif()

# qwindows draws the window; qoffscreen runs it without a display (headless checks, the
# installer's start test); the vista style draws the status box and the frame in the system's
# look. The window's icon is the .ico linked into the program, so no image plugin is needed.
set(_tarnovid_qt_dlls Qt6::Core Qt6::Gui Qt6::Widgets)
set(_tarnovid_qt_plugins
  platforms Qt6::QWindowsIntegrationPlugin
  platforms Qt6::QOffscreenIntegrationPlugin
  styles Qt6::QWindowsVistaStylePlugin)

foreach(dll IN LISTS _tarnovid_qt_dlls)
  install(FILES $<TARGET_FILE:${dll}> DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
set(_plugin_dirs ${_tarnovid_qt_plugins})
while(_plugin_dirs)
  list(POP_FRONT _plugin_dirs dir plugin)
  install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${CMAKE_INSTALL_BINDIR}/${dir})
endwhile()

# GCC's and winpthreads' DLLs, which every MinGW-built program and Qt itself import. The compiler
# knows where its own are; MSYS2 keeps them beside the compiler instead.
set(_tarnovid_runtime_dlls)
if(MINGW)
  get_filename_component(_compiler_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
  foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      set(path ${_compiler_dir}/${name})
    endif()
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${name} not found: the MinGW runtime must ship beside the programs")
    endif()
    file(REAL_PATH "${path}" path)
    list(APPEND _tarnovid_runtime_dlls ${path})
  endforeach()
  # Debian's copies carry their debug information (libstdc++ is 23 MB instead of 2 MB); ship them
  # stripped, as the programs are.
  set(_shipped)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/runtime)
  foreach(path IN LISTS _tarnovid_runtime_dlls)
    get_filename_component(name ${path} NAME)
    set(out ${CMAKE_BINARY_DIR}/runtime/${name})
    if(CMAKE_STRIP)
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${out} ${path}
        DEPENDS ${path} VERBATIM)
    else()
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E copy ${path} ${out}
        DEPENDS ${path} VERBATIM)
    endif()
    list(APPEND _shipped ${out})
  endforeach()
  add_custom_target(tarnovid_runtime_dlls ALL DEPENDS ${_shipped})
  install(FILES ${_shipped} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Running the cross-built programs here: scripts/wine-run with this tree's Wine prefixes, and
# Wine told where the DLLs and plugins above are, so nothing is copied for a test run.
if(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
find_program(TARNOVID_WINE wine)
if(NOT TARNOVID_WINE)
  message(STATUS "wine not found: the Windows programs are built, CTest cannot run them here")
  return()
endif()
set(TARNOVID_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run) # for checks that run Wine themselves
set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNOVID_WINE_RUN} ${CMAKE_BINARY_DIR})

# The offscreen platform reads fonts from one folder of its own instead of the system's: give it
# Wine's faces (among them "MS Sans Serif", the window's design face) and the metric look-alikes
# the window falls back to, as the windows platform sees them through Wine.
set(_font_dir ${CMAKE_BINARY_DIR}/wine/fonts)
file(REMOVE_RECURSE ${_font_dir})
file(MAKE_DIRECTORY ${_font_dir})
file(GLOB _fonts
  /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon
  /usr/share/fonts/truetype/liberation/*.ttf
  /usr/share/fonts/truetype/dejavu/*.ttf)
foreach(font IN LISTS _fonts)
  get_filename_component(name ${font} NAME)
  file(CREATE_LINK ${font} ${_font_dir}/${name} SYMBOLIC)
endforeach()

set(_wine_path)
foreach(dir $<TARGET_FILE_DIR:Qt6::Core> ${_tarnovid_runtime_dlls})
  if(EXISTS "${dir}") # a DLL: its folder
    get_filename_component(dir ${dir} DIRECTORY)
  endif()
  list(APPEND _wine_path "Z:${dir}")
endforeach()
list(REMOVE_DUPLICATES _wine_path)
# tarnovid.dll, which tarnovidctl.exe imports; its target is made after this file is read, and
# the path is known when the file below is written.
list(APPEND _wine_path "Z:$<TARGET_FILE_DIR:libtarnovid>")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-env.sh CONTENT
"# Written by CMake for scripts/wine-run: where the Windows programs of this tree find their DLLs,
# Qt's plugins, and the offscreen platform its fonts.
TARNOVID_WINE_PATH='${_wine_path}'
TARNOVID_WINE_PLUGINS='Z:$<TARGET_FILE_DIR:Qt6::QWindowsIntegrationPlugin>/..'
TARNOVID_WINE_FONTS='Z:${_font_dir}'
")
