# Writes the module-definition file of tarnovid.dll from the C header, at build time, so that the
# import library made from it names exactly the functions the header declares, however many are
# added. Every function of the interface is declared on a line of its own that starts with
# TARNOVID_API and carries the function's name and its opening parenthesis.
#
#   cmake -DHEADER=tarnovid.h -DDLL=tarnovid.dll -DOUTPUT=tarnovid.def -P WindowsDefFile.cmake
foreach(var HEADER DLL OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WindowsDefFile.cmake needs -D${var}=...")
  endif()
endforeach()

file(STRINGS ${HEADER} _declarations REGEX "^TARNOVID_API ")
set(_names)
foreach(line IN LISTS _declarations)
  if(NOT line MATCHES "^TARNOVID_API [^(]*[ *](tarnovid_[a-z0-9_]+)\\(")
    message(FATAL_ERROR "${HEADER}: no function name in \"${line}\"")
  endif()
  list(APPEND _names ${CMAKE_MATCH_1})
endforeach()
if(NOT _names)
  message(FATAL_ERROR "${HEADER} declares no TARNOVID_API function")
endif()
list(SORT _names)

set(_text "; ${DLL}: the functions of tarnovid.h. Written by the build from the header.\n")
string(APPEND _text "LIBRARY ${DLL}\nEXPORTS\n")
foreach(name IN LISTS _names)
  string(APPEND _text "    ${name}\n")
endforeach()
file(WRITE ${OUTPUT} "${_text}")
