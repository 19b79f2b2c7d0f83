# Embedding of the three encoder tools (resources 301, 302, 303).
#
# The tools are built elsewhere; the build only copies their bytes into the
# executable. Each tool is named by a cache variable:
#
#   ORVEL_ENGINE_JPEGLI    cjpegli                 (resource 301)
#   ORVEL_ENGINE_MOZJPEG   MozJPEG cjpeg           (resource 302)
#   ORVEL_ENGINE_JPEGTRAN  jpegtran                (resource 303)
#
# Empty (the default) looks the tool up on PATH; a false constant such as OFF
# embeds nothing for it. A cjpeg is accepted only when its -version output
# names MozJPEG, because libjpeg's plain cjpeg lacks the options the encoder
# command lines use. A tool that is not embedded is a missing resource of size
# 0, and the program then runs without it.
#
# orvel_embed_engines(<target>) generates an assembler file that pulls the
# bytes in with .incbin and adds it to <target>. The file depends on the
# binaries, so a changed binary is embedded again on the next build.

set(ORVEL_ENGINE_JPEGLI "" CACHE STRING
    "cjpegli binary to embed (empty: look up cjpegli on PATH; OFF: none)")
set(ORVEL_ENGINE_MOZJPEG "" CACHE STRING
    "MozJPEG cjpeg binary to embed (empty: look up cjpeg on PATH; OFF: none)")
set(ORVEL_ENGINE_JPEGTRAN "" CACHE STRING
    "jpegtran binary to embed (empty: look up jpegtran on PATH; OFF: none)")

set(_orvel_embed_engines_dir ${CMAKE_CURRENT_LIST_DIR})

# True in <out> when `binary -version` names MozJPEG on stdout or stderr.
function(_orvel_is_mozjpeg binary out)
  execute_process(COMMAND "${binary}" -version
                  OUTPUT_VARIABLE stdout_text ERROR_VARIABLE stderr_text
                  RESULT_VARIABLE ignored_result TIMEOUT 10)
  string(TOLOWER "${stdout_text}${stderr_text}" version_text)
  string(FIND "${version_text}" "mozjpeg" position)
  if(position GREATER -1)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# Resolves one tool: <out_path> is the binary to embed or empty, <out_note> says
# why for the configure summary.
function(_orvel_resolve_engine setting program check_mozjpeg out_path out_note)
  set(candidate "")
  if("${setting}" STREQUAL "")
    find_program(found_program ${program} NO_CACHE)
    if(found_program)
      set(candidate "${found_program}")
    else()
      set(${out_path} "" PARENT_SCOPE)
      set(${out_note} "missing (no ${program} on PATH)" PARENT_SCOPE)
      return()
    endif()
  elseif(NOT setting)
    set(${out_path} "" PARENT_SCOPE)
    set(${out_note} "missing (switched off)" PARENT_SCOPE)
    return()
  else()
    set(candidate "${setting}")
    if(NOT EXISTS "${candidate}" OR IS_DIRECTORY "${candidate}")
      message(FATAL_ERROR "Encoder tool '${candidate}' does not exist or is not a file")
    endif()
  endif()

  get_filename_component(candidate "${candidate}" REALPATH)
  if(check_mozjpeg)
    _orvel_is_mozjpeg("${candidate}" is_mozjpeg)
    if(NOT is_mozjpeg)
      if(NOT "${setting}" STREQUAL "")
        message(WARNING "'${candidate}' does not report MozJPEG in its -version output; not embedded")
      endif()
      set(${out_path} "" PARENT_SCOPE)
      set(${out_note} "missing (${candidate} is not MozJPEG)" PARENT_SCOPE)
      return()
    endif()
  endif()
  # The program refuses a tool that is not an ELF executable; say so now.
  file(READ "${candidate}" head LIMIT 4 HEX)
  if(NOT head STREQUAL "7f454c46")
    message(WARNING "'${candidate}' is not an ELF executable; the program will refuse it")
  endif()
  set(${out_path} "${candidate}" PARENT_SCOPE)
  set(${out_note} "embedded from ${candidate}" PARENT_SCOPE)
endfunction()

# The assembler lines for one resource: a begin and an end symbol with the
# bytes between them, or two equal symbols when the tool is missing.
function(_orvel_engine_assembly name binary out)
  set(lines "    .balign 16\n    .globl orvel_engine_${name}_begin\n")
  string(APPEND lines "    .hidden orvel_engine_${name}_begin\n")
  string(APPEND lines "orvel_engine_${name}_begin:\n")
  if(binary)
    # The assembler reads the name as a C-like string literal.
    string(REPLACE "\\" "\\\\" quoted "${binary}")
    string(REPLACE "\"" "\\\"" quoted "${quoted}")
    string(APPEND lines "    .incbin \"${quoted}\"\n")
  endif()
  string(APPEND lines "    .globl orvel_engine_${name}_end\n")
  string(APPEND lines "    .hidden orvel_engine_${name}_end\n")
  string(APPEND lines "orvel_engine_${name}_end:\n")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

function(orvel_embed_engines target)
  _orvel_resolve_engine("${ORVEL_ENGINE_JPEGLI}" cjpegli FALSE jpegli_path jpegli_note)
  _orvel_resolve_engine("${ORVEL_ENGINE_MOZJPEG}" cjpeg TRUE mozjpeg_path mozjpeg_note)
  _orvel_resolve_engine("${ORVEL_ENGINE_JPEGTRAN}" jpegtran FALSE jpegtran_path jpegtran_note)

  message(STATUS "Encoder tool 301 jpegli:   ${jpegli_note}")
  message(STATUS "Encoder tool 302 MozJPEG:  ${mozjpeg_note}")
  message(STATUS "Encoder tool 303 jpegtran: ${jpegtran_note}")

  _orvel_engine_assembly(jpegli "${jpegli_path}" ORVEL_ENGINE_JPEGLI_ASM)
  _orvel_engine_assembly(mozjpeg "${mozjpeg_path}" ORVEL_ENGINE_MOZJPEG_ASM)
  _orvel_engine_assembly(jpegtran "${jpegtran_path}" ORVEL_ENGINE_JPEGTRAN_ASM)

  set(generated "${CMAKE_CURRENT_BINARY_DIR}/embedded_engines.S")
  configure_file("${_orvel_embed_engines_dir}/embedded_engines.S.in" "${generated}" @ONLY)

  set(dependencies "")
  foreach(binary IN ITEMS "${jpegli_path}" "${mozjpeg_path}" "${jpegtran_path}")
    if(binary)
      list(APPEND dependencies "${binary}")
    endif()
  endforeach()
  set_source_files_properties("${generated}" PROPERTIES
    LANGUAGE ASM GENERATED TRUE OBJECT_DEPENDS "${dependencies}")
  target_sources(${target} PRIVATE "${generated}")
endfunction()
