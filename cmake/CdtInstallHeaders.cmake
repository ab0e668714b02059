# Run by `cmake --install` for each core folder: installs its headers with
# their includes of one another rewritten from "FOLDER/NAME.h" to
# <cdt/FOLDER/NAME.h>. Reads CDT_HEADERS, CDT_HEADER_FOLDERS (the core
# folders), CDT_HEADER_STAGE (where the rewritten copies are made) and
# CDT_HEADER_DESTINATION (relative to the install prefix).
list(JOIN CDT_HEADER_FOLDERS "|" alternatives)
file(MAKE_DIRECTORY "${CDT_HEADER_STAGE}")
set(staged_files "")
foreach(header IN LISTS CDT_HEADERS)
  file(READ "${header}" text)
  string(REGEX REPLACE "#include \"((${alternatives})/[^\"]*)\"" "#include <cdt/\\1>" text "${text}")
  get_filename_component(name "${header}" NAME)
  file(WRITE "${CDT_HEADER_STAGE}/${name}" "${text}")
  list(APPEND staged_files "${CDT_HEADER_STAGE}/${name}")
endforeach()
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${CDT_HEADER_DESTINATION}" TYPE FILE
     FILES ${staged_files})
