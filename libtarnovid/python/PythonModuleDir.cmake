# Where the Python module goes under an install prefix: the folder there in which the python3 of
# the build looks for packages' modules, else Debian's folder for them. Included at configure time
# to say where, and at install time to install, as the prefix may change in between: the .deb is
# staged for /usr from a tree configured for /usr/local.

# <out>: the folder, relative to <prefix>. <sites>: the folders python3 looks in for packages'
# modules (site.getsitepackages()); <chosen>: a folder chosen by hand, which wins.
function(tarnovid_python_module_dir out prefix sites chosen)
  if(chosen)
    set(${out} ${chosen} PARENT_SCOPE)
    return()
  endif()
  # Debian's python3 looks in lib/python3.X/dist-packages under /usr/local and in
  # lib/python3/dist-packages, its packages' folder, under /usr; under /usr it lists
  # /usr/local/lib/python3.X/dist-packages and /usr/lib/python3.X/dist-packages too, so among the
  # folders under a prefix the shortest is the one.
  get_filename_component(prefix "${prefix}" ABSOLUTE)
  set(found "")
  foreach(site IN LISTS sites)
    get_filename_component(site "${site}" ABSOLUTE)
    string(FIND "${site}/" "${prefix}/" at)
    if(at EQUAL 0 AND NOT site STREQUAL prefix)
      file(RELATIVE_PATH relative "${prefix}" "${site}")
      string(LENGTH "${relative}" length)
      if(NOT found OR length LESS found_length)
        set(found "${relative}")
        set(found_length ${length})
      endif()
    endif()
  endforeach()
  if(NOT found)
    set(found lib/python3/dist-packages)
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
