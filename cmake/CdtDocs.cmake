# Script mode (cmake -P), run at build time once `cdt` is built: the man pages
# and the bash completion, both taken from the programs' own help so that they
# never drift from it.
#
#   man1/cdt.1            from `cdt --help`
#   man1/cdt-COMMAND.1    from `cdt COMMAND --help`, one per command `cdt --help` lists
#   man1/cdt2csv.1        from man/cdt2csv.help (cdt2csv has no options, so no --help)
#   completion/cdt        bash completion: commands, each command's options, and
#                         for arguments recordings, directories or any file
#
# In: CDT (the program), HELP2MAN (empty: no man pages), SOURCE_DIR, OUTPUT_DIR,
# VERSION_FILE (the version text), STAMP.
file(READ "${VERSION_FILE}" version)
string(STRIP "${version}" version)

function(run_cdt out_var)
  execute_process(COMMAND "${CDT}" ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cdt ${ARGN} failed (${status})")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Lines of `text` as a list; semicolons would split an entry, so they become commas.
function(text_lines out_var text)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out_var} "${lines}" PARENT_SCOPE)
endfunction()

# The commands and their one-line summaries, from the "Commands:" block.
run_cdt(tool_help --help)
text_lines(lines "${tool_help}")
set(commands "")
set(in_commands OFF)
foreach(line IN LISTS lines)
  if(line STREQUAL "Commands:")
    set(in_commands ON)
  elseif(in_commands AND line MATCHES "^  ([a-z][a-z0-9-]*) +(.+)$")
    list(APPEND commands ${CMAKE_MATCH_1})
    set(summary_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  elseif(in_commands)
    break()
  endif()
endforeach()
if(NOT commands)
  message(FATAL_ERROR "`cdt --help` lists no commands")
endif()

file(REMOVE_RECURSE "${OUTPUT_DIR}/man1" "${OUTPUT_DIR}/wrappers" "${OUTPUT_DIR}/completion")
file(MAKE_DIRECTORY "${OUTPUT_DIR}/man1" "${OUTPUT_DIR}/wrappers" "${OUTPUT_DIR}/completion")

# ---- Man pages --------------------------------------------------------------
if(HELP2MAN)
  set(see_also ".BR cdt2csv (1),\n.BR cdt (1)")
  foreach(command IN LISTS commands)
    string(APPEND see_also ",\n.BR cdt\\-${command} (1)")
  endforeach()
  file(WRITE "${OUTPUT_DIR}/wrappers/see-also.h2m" "[SEE ALSO]\n${see_also}\n")

  # Each page gets a wrapper of its name that runs the real program; help2man
  # takes "Usage:" and "  or:" lines for the synopsis.
  set(synopsis_sed "sed -e 's/^usage:/Usage:/' -e 's/^       cdt /  or:  cdt /'")
  function(make_page name summary wrapper_body)
    set(wrapper "${OUTPUT_DIR}/wrappers/${name}")
    file(WRITE "${wrapper}" "#!/bin/sh\n${wrapper_body}\n")
    file(CHMOD "${wrapper}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
      GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    execute_process(
      COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${summary}"
        "--version-string=${name} ${version}" "--source=cdt ${version}" "--manual=cdt Manual"
        "--include=${OUTPUT_DIR}/wrappers/see-also.h2m"
        "--output=${OUTPUT_DIR}/man1/${name}.1" "${wrapper}"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "help2man failed for ${name}")
    endif()
  endfunction()

  make_page(cdt2csv "convert recorded data files into CSV files"
    "cat \"${SOURCE_DIR}/man/cdt2csv.help\"")
  make_page(cdt "tools for the recordings of the blade monitoring installation"
    "\"${CDT}\" \"$@\" | ${synopsis_sed}")
  foreach(command IN LISTS commands)
    string(TOLOWER "${summary_${command}}" summary)
    make_page(cdt-${command} "${summary}" "\"${CDT}\" ${command} \"$@\" | ${synopsis_sed}")
  endforeach()
endif()

# ---- Bash completion --------------------------------------------------------
# Per command: its options, those that take a value (as option=kind, kind
# being file, dir or none after the value's name in the help), the options
# after which the arguments are text files of any name (config --check), and
# what the first argument is: a directory (DIR in the synopsis) or a recording.
set(cases "")
foreach(command IN LISTS commands)
  run_cdt(command_help ${command} --help)
  text_lines(lines "${command_help}")
  set(options "--help")
  set(values "")
  set(flags "")
  set(in_options OFF)
  foreach(line IN LISTS lines)
    if(line STREQUAL "Options:")
      set(in_options ON)
    elseif(in_options AND line MATCHES "^  (--[a-z][a-z0-9-]*)( [^ ]+)? +[^ ]")
      set(option ${CMAKE_MATCH_1})
      string(STRIP "${CMAKE_MATCH_2}" value_name)
      string(APPEND options " ${option}")
      if(value_name STREQUAL "FILE")
        string(APPEND values " ${option}=file")
      elseif(value_name STREQUAL "DIR")
        string(APPEND values " ${option}=dir")
      elseif(value_name)
        string(APPEND values " ${option}=none")
      else()
        list(APPEND flags ${option})
      endif()
    elseif(in_options AND NOT line MATCHES "^  ")
      set(in_options OFF)
    endif()
  endforeach()
  string(REGEX MATCH "^usage: [^\n]*(\n       [^\n]*)*" synopsis "${command_help}")
  set(text_flags "")
  foreach(flag IN LISTS flags)
    if(synopsis MATCHES "${flag} [A-Z]")
      string(APPEND text_flags " ${flag}")
    endif()
  endforeach()
  string(REGEX MATCH "^usage: [^\n]*" first_form "${command_help}")
  set(argument recording)
  if(first_form MATCHES " DIR")
    set(argument dir)
  endif()
  string(APPEND cases "        ${command}) options=\"${options}\" values=\"${values} \" "
    "text_flags=\"${text_flags} \" argument=${argument} ;;\n")
endforeach()
string(REPLACE ";" " " command_words "${commands}")

configure_file("${SOURCE_DIR}/cmake/cdt-completion.bash.in" "${OUTPUT_DIR}/completion/cdt" @ONLY)
file(WRITE "${STAMP}" "${version}\n")
