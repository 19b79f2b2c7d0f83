# Embedding of the three encoder tools (resources 301, 302, 303).
#
# The build only copies the tools' bytes into the executable. Each tool is
# named by a cache variable:
#
#   ORVEL_ENGINE_JPEGLI    cjpegli                 (resource 301)
#   ORVEL_ENGINE_MOZJPEG   MozJPEG cjpeg           (resource 302)
#   ORVEL_ENGINE_JPEGTRAN  jpegtran                (resource 303)
#
# A binary named there is embedded as it is; a false constant such as OFF
# embeds nothing for it. Empty (the default) embeds the tool that
# BuildEncoders.cmake builds from pinned sources, and when it cannot, looks the
# tool up on PATH. A cjpeg from PATH or the variable is accepted only when its
# -version output names MozJPEG, because libjpeg's plain cjpeg lacks the
# options the encoder command lines use. A tool that is not embedded is a
# missing resource of size 0, and the program then runs without it.
#
# Next to each tool the executable holds its version text: what the build
# recorded for a tool it built, else the first line the tool prints for
# -version (--version for cjpegli), else nothing.
#
# orvel_embed_engines(<target>) generates an assembler file that pulls the
# bytes in with .incbin and adds it to <target>. The file depends on the
# binaries, so a changed binary is embedded again on the next build.
include(${CMAKE_CURRENT_LIST_DIR}/BuildEncoders.cmake)

set(ORVEL_ENGINE_JPEGLI "" CACHE STRING
    "cjpegli binary to embed (empty: build it, else look it up on PATH; OFF: none)")
set(ORVEL_ENGINE_MOZJPEG "" CACHE STRING
    "MozJPEG cjpeg binary to embed (empty: build it, else look it up on PATH; OFF: none)")
set(ORVEL_ENGINE_JPEGTRAN "" CACHE STRING
    "jpegtran binary to embed (empty: build it, else look it up on PATH; OFF: none)")

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

# The first line the tool <binary> prints when asked for its version and it
# exits normally; empty when it prints nothing or fails (a cjpegli without a
# version option). cjpegli is asked with --version, libjpeg's tools with -version.
function(_orvel_reported_version binary program out)
  set(flag -version)
  if(program STREQUAL "cjpegli")
    set(flag --version)
  endif()
  execute_process(COMMAND "${binary}" ${flag}
                  OUTPUT_VARIABLE stdout_text ERROR_VARIABLE stderr_text
                  RESULT_VARIABLE result TIMEOUT 10)
  set(version "")
  if(result STREQUAL "0")
    string(STRIP "${stdout_text}\n${stderr_text}" text)
    string(REGEX REPLACE "\n.*" "" version "${text}")
  endif()
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

# Resolves one tool: <out_path> is the binary to embed or empty,
# <out_version> its version text, <out_note> the configure line's reason.
function(_orvel_resolve_engine tool setting program check_mozjpeg out_path out_version out_note)
  set(${out_path} "" PARENT_SCOPE)
  set(${out_version} "" PARENT_SCOPE)
  get_property(built GLOBAL PROPERTY ORVEL_BUILT_${tool}_PATH)
  get_property(built_note GLOBAL PROPERTY ORVEL_BUILT_${tool}_NOTE)
  set(candidate "")
  set(suffix "")
  set(missing "MISSING - ")
  if("${setting}" STREQUAL "" AND built)
    get_property(version GLOBAL PROPERTY ORVEL_BUILT_${tool}_VERSION)
    set(${out_path} "${built}" PARENT_SCOPE)
    set(${out_version} "${version}" PARENT_SCOPE)
    set(${out_note} "${version}, built from the ${built_note}" PARENT_SCOPE)
    return()
  elseif("${setting}" STREQUAL "")
    set(missing "MISSING - not built: ${built_note}; ")
    find_program(found_program ${program} NO_CACHE)
    if(NOT found_program)
      set(${out_note} "${missing}no ${program} on PATH" PARENT_SCOPE)
      return()
    endif()
    set(candidate "${found_program}")
    set(origin "from PATH")
    set(suffix "; not built: ${built_note}")
  elseif(NOT setting)
    set(${out_note} "missing (switched off)" PARENT_SCOPE)
    return()
  else()
    set(candidate "${setting}")
    set(origin "named by ORVEL_ENGINE_${tool}")
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
      set(${out_note} "${missing}${candidate} ${origin} is not MozJPEG" PARENT_SCOPE)
      return()
    endif()
  endif()
  # The program refuses a tool that is not an ELF executable; say so now.
  file(READ "${candidate}" head LIMIT 4 HEX)
  if(NOT head STREQUAL "7f454c46")
    message(WARNING "'${candidate}' is not an ELF executable; the program will refuse it")
  endif()
  _orvel_reported_version("${candidate}" ${program} version)
  set(${out_path} "${candidate}" PARENT_SCOPE)
  set(${out_version} "${version}" PARENT_SCOPE)
  if(NOT version)
    set(version "unknown")
  endif()
  set(${out_note} "${candidate} ${origin}, version: ${version}${suffix}" PARENT_SCOPE)
endfunction()

# Text quoted for the assembler, which reads it as a C-like string literal.
function(_orvel_assembler_string text out)
  string(REPLACE "\\" "\\\\" quoted "${text}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  set(${out} "\"${quoted}\"" PARENT_SCOPE)
endfunction()

# The assembler lines for one resource: a begin and an end symbol with the
# bytes between them (two equal symbols when the tool is missing), and the
# version text as a zero-terminated string.
function(_orvel_engine_assembly name binary version out)
  set(lines "    .balign 16\n    .globl orvel_engine_${name}_begin\n")
  string(APPEND lines "    .hidden orvel_engine_${name}_begin\n")
  string(APPEND lines "orvel_engine_${name}_begin:\n")
  if(binary)
    _orvel_assembler_string("${binary}" quoted)
    string(APPEND lines "    .incbin ${quoted}\n")
  endif()
  string(APPEND lines "    .globl orvel_engine_${name}_end\n")
  string(APPEND lines "    .hidden orvel_engine_${name}_end\n")
  string(APPEND lines "orvel_engine_${name}_end:\n")
  _orvel_assembler_string("${version}" quoted)
  string(APPEND lines "    .globl orvel_engine_${name}_version\n")
  string(APPEND lines "    .hidden orvel_engine_${name}_version\n")
  string(APPEND lines "orvel_engine_${name}_version:\n    .asciz ${quoted}\n")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

function(orvel_embed_engines target)
  orvel_build_encoders()
  set(tools JPEGLI MOZJPEG JPEGTRAN)
  set(programs cjpegli cjpeg jpegtran)
  set(mozjpeg_checks FALSE TRUE FALSE)
  set(labels "301 jpegli:  " "302 MozJPEG: " "303 jpegtran:")
  set(dependencies "")
  foreach(tool program check label IN ZIP_LISTS tools programs mozjpeg_checks labels)
    _orvel_resolve_engine(${tool} "${ORVEL_ENGINE_${tool}}" ${program} ${check} path version note)
    # One line per tool: what is embedded, or that it is missing and why.
    message(STATUS "Encoder tool ${label} ${note}")
    # For the package's copyright file: what is embedded, and its version.
    set(embedded "${version}")
    if(NOT path)
      set(embedded "not embedded")
    elseif(NOT version)
      set(embedded "version unknown")
    endif()
    set_property(GLOBAL PROPERTY ORVEL_EMBEDDED_${tool}_VERSION "${embedded}")
    set_property(GLOBAL PROPERTY ORVEL_EMBEDDED_${tool}_PATH "${path}")
    string(TOLOWER "${tool}" name)
    _orvel_engine_assembly(${name} "${path}" "${version}" ORVEL_ENGINE_${tool}_ASM)
    if(path)
      list(APPEND dependencies "${path}")
      get_property(built GLOBAL PROPERTY ORVEL_BUILT_${tool}_PATH)
      get_property(producer GLOBAL PROPERTY ORVEL_BUILT_${tool}_TARGET)
      if(path STREQUAL built)
        add_dependencies(${target} ${producer})
      endif()
    endif()
  endforeach()

  set(generated "${CMAKE_CURRENT_BINARY_DIR}/embedded_engines.S")
  configure_file("${_orvel_embed_engines_dir}/embedded_engines.S.in" "${generated}" @ONLY)
  set_source_files_properties("${generated}" PROPERTIES
    LANGUAGE ASM GENERATED TRUE OBJECT_DEPENDS "${dependencies}")
  target_sources(${target} PRIVATE "${generated}")
endfunction()
