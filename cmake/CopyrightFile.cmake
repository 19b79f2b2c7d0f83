# Writes the Debian package's machine-readable copyright file at build time,
# run as `cmake -P` by Packaging.cmake once the encoder sources are there
# (downloads happen at build time, after configure).
#
# Our own part is resources/copyright.in: the header, our Files: * paragraph,
# a Files paragraph per embedded tool and the stand-alone License paragraphs
# whose text is ours (Expat, the Apache-2.0 reference). The full text of every
# other licence those paragraphs name is copied from the licence files of the
# encoder source trees, so it is always the text of the sources built.
#
# Input variables (-D):
#   TEMPLATE   resources/copyright.in; its @ORVEL_COPYRIGHT_<TOOL>@ are
#              replaced by the variables of those names
#   OUTPUT     the copyright file to write
#   MISSING    written with one line per licence text that could not be
#              found, removed when none is missing; Packaging.cmake refuses to
#              install (and so to package) while it exists
#   EMBEDDED   the embedded tools, comma-separated (cjpegli,cjpeg,jpegtran).
#              Files patterns embedded/<tool>... of other tools are dropped,
#              and with them the licences only they name.
#   JPEGLI_TREE, HIGHWAY_TREE  source trees; may be empty
#   LIBJPEG_TREES  comma-separated trees of the libjpeg family, tried in
#              order (MozJPEG's first, then jpegli's libjpeg-turbo)
cmake_minimum_required(VERSION 3.25)

foreach(variable TEMPLATE OUTPUT MISSING)
  if(NOT ${variable})
    message(FATAL_ERROR "CopyrightFile.cmake: ${variable} is not set")
  endif()
endforeach()

# Where each licence text comes from: short name, the variable holding the
# tree(s), the file in the tree, how the text is found there (WHOLE file,
# the SECTION under a heading, or a comment BLOCK from one line to another),
# and the setting a packager names when the tree is not known.
set(_orvel_licence_sources
  "BSD-3-clause-jpegli|JPEGLI_TREE|LICENSE|WHOLE|||ORVEL_JPEGLI_SOURCE_DIR"
  "BSD-3-clause-highway|HIGHWAY_TREE|LICENSE|SECTION|BSD 3-Clause License||ORVEL_HIGHWAY_SOURCE_DIR or ORVEL_JPEGLI_SOURCE_DIR with third_party/highway"
  "IJG|LIBJPEG_TREES|README.ijg|SECTION|LEGAL ISSUES||ORVEL_MOZJPEG_SOURCE_DIR"
  "BSD-3-clause-libjpeg-turbo|LIBJPEG_TREES|LICENSE.md|SECTION|The Modified (3-clause) BSD License||ORVEL_MOZJPEG_SOURCE_DIR"
  "Zlib|LIBJPEG_TREES|simd/nasm/jsimdext.inc|BLOCK|This software is provided 'as-is'|This notice may not be removed|ORVEL_MOZJPEG_SOURCE_DIR")

# Text is handled as a list of lines. Characters that CMake lists treat
# specially stand in for themselves as control characters meanwhile.
string(ASCII 1 _orvel_semicolon)
string(ASCII 2 _orvel_open)
string(ASCII 3 _orvel_close)

function(_orvel_to_lines text out)
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE ";" "${_orvel_semicolon}" text "${text}")
  string(REPLACE "[" "${_orvel_open}" text "${text}")
  string(REPLACE "]" "${_orvel_close}" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

function(_orvel_decode text out)
  string(REPLACE "${_orvel_semicolon}" ";" text "${text}")
  string(REPLACE "${_orvel_open}" "[" text "${text}")
  string(REPLACE "${_orvel_close}" "]" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A line that only underlines a heading (===, ---).
function(_orvel_is_rule line out)
  if(line MATCHES "^(=+|-+)$")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# The lines of <file> the licence text is: all of them (WHOLE); those below
# the heading <from> and its underline, up to the next heading (SECTION);
# or those from the line holding <from> to the one holding <to>, with the
# comment marker ';' taken off (BLOCK). Empty when not found.
function(_orvel_extract file how from to out)
  file(READ "${file}" text)
  _orvel_to_lines("${text}" lines)
  set(taken "")
  set(state "before")
  if(how STREQUAL "WHOLE")
    set(state "inside")
  endif()
  set(previous "")
  foreach(line IN LISTS lines)
    if(how STREQUAL "BLOCK")
      string(REGEX REPLACE "^${_orvel_semicolon} ?" "" line "${line}")
    endif()
    _orvel_is_rule("${line}" rule)
    if(how STREQUAL "SECTION" AND state STREQUAL "before")
      if(rule AND previous STREQUAL from)
        set(state "inside")
      endif()
    elseif(how STREQUAL "SECTION" AND rule)
      # The line above the next underline is that section's heading.
      list(POP_BACK taken)
      break()
    elseif(how STREQUAL "BLOCK" AND state STREQUAL "before")
      string(FIND "${line}" "${from}" at)
      if(at GREATER -1)
        set(state "inside")
        list(APPEND taken "${line}")
      endif()
    else()
      list(APPEND taken "${line}")
      string(FIND "${line}" "${to}" at)
      if(how STREQUAL "BLOCK" AND at GREATER -1)
        set(state "done")
        break()
      endif()
    endif()
    set(previous "${line}")
  endforeach()
  if(state STREQUAL "before" OR (how STREQUAL "BLOCK" AND NOT state STREQUAL "done"))
    set(taken "")
  endif()
  set(${out} "${taken}" PARENT_SCOPE)
endfunction()

# <lines> as the text of a License paragraph: trailing blanks and Markdown
# line breaks dropped, blank lines around the text dropped, each line indented
# by one space, empty lines as " .".
function(_orvel_paragraph_body lines out)
  set(body "")
  set(blanks "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "[ \t]+$" "" line "${line}")
    string(REGEX REPLACE "<br>$" "" line "${line}")
    if(line STREQUAL "")
      if(NOT body STREQUAL "")
        set(blanks "\n .")
      endif()
    else()
      string(APPEND body "${blanks}\n ${line}")
      set(blanks "")
    endif()
  endforeach()
  set(${out} "${body}" PARENT_SCOPE)
endfunction()

# The stand-alone License paragraph for <name> from the trees, in <out>, or
# empty with the reason in <out_reason>.
function(_orvel_licence_paragraph name out out_reason)
  set(${out} "" PARENT_SCOPE)
  set(${out_reason} "no source for its text is known" PARENT_SCOPE)
  foreach(source IN LISTS _orvel_licence_sources)
    string(REPLACE "|" ";" fields "${source}")
    list(GET fields 0 source_name)
    if(NOT source_name STREQUAL name)
      continue()
    endif()
    list(GET fields 1 trees_variable)
    list(GET fields 2 file)
    list(GET fields 3 how)
    list(GET fields 4 from)
    list(GET fields 5 to)
    list(GET fields 6 setting)
    string(REPLACE "," ";" trees "${${trees_variable}}")
    list(REMOVE_ITEM trees "")
    set(reasons "")
    foreach(tree IN LISTS trees)
      if(NOT EXISTS "${tree}/${file}")
        list(APPEND reasons "${tree}/${file} does not exist")
        continue()
      endif()
      _orvel_extract("${tree}/${file}" ${how} "${from}" "${to}" lines)
      if(lines STREQUAL "")
        list(APPEND reasons "${tree}/${file} has no text under '${from}'")
        continue()
      endif()
      _orvel_paragraph_body("${lines}" body)
      set(${out} "License: ${name}${body}" PARENT_SCOPE)
      return()
    endforeach()
    if(NOT reasons)
      set(reasons "no source tree is known (set ${setting})")
    endif()
    list(JOIN reasons ", and " reason)
    set(${out_reason} "${reason}" PARENT_SCOPE)
    return()
  endforeach()
endfunction()

# The paragraphs of <text> (encoded lines joined by "\n"), as a list.
function(_orvel_paragraphs text out)
  _orvel_to_lines("${text}" lines)
  set(paragraphs "")
  set(current "")
  foreach(line IN LISTS lines)
    if(line STREQUAL "")
      if(NOT current STREQUAL "")
        list(APPEND paragraphs "${current}")
      endif()
      set(current "")
    elseif(NOT current STREQUAL "")
      string(APPEND current "\n${line}")
    else()
      set(current "${line}")
    endif()
  endforeach()
  if(NOT current STREQUAL "")
    list(APPEND paragraphs "${current}")
  endif()
  set(${out} "${paragraphs}" PARENT_SCOPE)
endfunction()

# <paragraph> with the Files patterns of tools not embedded taken out; empty
# when none of its patterns is left.
function(_orvel_embedded_files paragraph embedded out)
  string(REGEX MATCH "^Files:[ ]*([^\n]*)" first "${paragraph}")
  string(REGEX REPLACE " +" ";" patterns "${CMAKE_MATCH_1}")
  set(kept "")
  foreach(pattern IN LISTS patterns)
    if(pattern MATCHES "^embedded/([^/]+)" AND NOT CMAKE_MATCH_1 IN_LIST embedded)
      continue()
    endif()
    list(APPEND kept "${pattern}")
  endforeach()
  set(${out} "" PARENT_SCOPE)
  if(NOT kept STREQUAL "")
    list(JOIN kept " " files)
    string(REGEX REPLACE "^Files:[^\n]*" "Files: ${files}" paragraph "${paragraph}")
    set(${out} "${paragraph}" PARENT_SCOPE)
  endif()
endfunction()

# The short names in a paragraph's License field ("A or B", "A and B").
function(_orvel_licence_names paragraph out)
  string(REGEX MATCH "(^|\n)License:[ ]*([^\n]*)" field "${paragraph}")
  string(STRIP "${CMAKE_MATCH_2}" expression)
  string(REGEX REPLACE " +(and|or) +|, *" ";" names "${expression}")
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

file(READ "${TEMPLATE}" template)
string(CONFIGURE "${template}" template @ONLY)
string(REPLACE "," ";" embedded "${EMBEDDED}")
_orvel_paragraphs("${template}" paragraphs)

# The header and the Files paragraphs of what is embedded, in template order;
# the template's own License paragraphs by name.
set(kept "")
set(used "")
set(own_names "")
foreach(paragraph IN LISTS paragraphs)
  if(paragraph MATCHES "^Files:")
    _orvel_embedded_files("${paragraph}" "${embedded}" paragraph)
    if(paragraph STREQUAL "")
      continue()
    endif()
    _orvel_licence_names("${paragraph}" names)
    list(APPEND used ${names})
  elseif(paragraph MATCHES "^License:[ ]*([^\n]*)")
    string(STRIP "${CMAKE_MATCH_1}" name)
    set(own_${name} "${paragraph}")
    list(APPEND own_names "${name}")
    continue()
  endif()
  list(APPEND kept "${paragraph}")
endforeach()
list(REMOVE_DUPLICATES used)

# One stand-alone License paragraph for each name used: ours, else the text
# from the trees.
set(missing "")
foreach(name IN LISTS used)
  if(name IN_LIST own_names)
    list(APPEND kept "${own_${name}}")
    continue()
  endif()
  _orvel_licence_paragraph("${name}" licence reason)
  if(NOT licence STREQUAL "")
    list(APPEND kept "${licence}")
  else()
    list(APPEND missing "${name}: ${reason}")
  endif()
endforeach()

list(JOIN kept "\n\n" text)
_orvel_decode("${text}" text)
# Written under another name first, so a half-written file never stands
# under the final one.
file(WRITE "${OUTPUT}.part" "${text}\n")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")

if(missing)
  list(JOIN missing "\n" lines)
  file(WRITE "${MISSING}" "${lines}\n")
  foreach(line IN LISTS missing)
    message(STATUS "Copyright file: no licence text for ${line}")
  endforeach()
  message(STATUS "Copyright file: the package cannot be installed or built until these are found")
else()
  file(REMOVE "${MISSING}")
endif()
