# The encoder build, tried on the scratch project in encoder_build/ with tiny
# stand-ins for the upstream source trees (run with cmake -P):
#   1. local source trees: jpegli (its three dependencies as separate trees)
#      and MozJPEG are built once, only the tools we embed, with our
#      recorded versions; the embedded bytes are the built tools and the
#      given trees stay untouched;
#   2. no source tree and no network: configure gives up within seconds, says
#      in one line per tool what is missing and why, and falls back to PATH;
#   3. a jpegli tree unpacked from an archive (no git, Little-CMS without
#      .git): it builds, and its version is the pinned commit, marked as not
#      verified.
# Defined by the test: ORVEL_SOURCE_DIR, SCRATCH, GENERATOR, MAKE_PROGRAM,
# C_COMPILER, CXX_COMPILER, GIT.
cmake_minimum_required(VERSION 3.25)

set(trees "${SCRATCH}/trees")
file(REMOVE_RECURSE "${SCRATCH}")

function(write_standin path text)
  file(WRITE "${trees}/${path}" "${text}")
endfunction()

# A stand-in tool that prints <name> for -version; a build that compiles a
# target it should leave alone fails on the #error of "refused.c".
set(tool_source "#include <stdio.h>\nint main(void) { puts(\"@NAME@\"); return 0; }\n")
function(write_tool path name)
  string(REPLACE "@NAME@" "${name}" text "${tool_source}")
  write_standin("${path}" "${text}")
endfunction()

write_standin(jpegli/CMakeLists.txt [[
cmake_minimum_required(VERSION 3.16)
project(jpegli C)
# jpegli uses its bundled Little-CMS only when third_party/lcms/.git exists.
foreach(marker highway/CMakeLists.txt lcms/include/lcms2.h lcms/.git libjpeg-turbo/jpeglib.h
               notes.txt)
  if(NOT EXISTS "${CMAKE_SOURCE_DIR}/third_party/${marker}")
    message(FATAL_ERROR "third_party/${marker} is missing")
  endif()
endforeach()
if(NOT JPEGLI_STATIC OR BUILD_TESTING OR JPEGLI_ENABLE_DEVTOOLS)
  message(FATAL_ERROR "not configured for the static tool alone")
endif()
add_subdirectory(tools)
]])
write_standin(jpegli/tools/CMakeLists.txt
              "add_executable(cjpegli cjpegli.c)\nadd_executable(djpegli refused.c)\n")
write_tool(jpegli/tools/cjpegli.c "stand-in cjpegli")
write_standin(jpegli/tools/refused.c "#error only the embedded tools may be built\n")
write_standin(jpegli/third_party/notes.txt "the jpegli tree's own third_party entries\n")
write_standin(highway/CMakeLists.txt "# stand-in\n")
write_standin(lcms/include/lcms2.h "/* stand-in */\n")
write_standin(libjpeg-turbo/jpeglib.h "/* stand-in */\n")
write_standin(mozjpeg/CMakeLists.txt [[
cmake_minimum_required(VERSION 3.16)
project(mozjpeg C)
set(VERSION 4.0.3)
if(ENABLE_SHARED OR NOT CMAKE_EXE_LINKER_FLAGS MATCHES "-static")
  message(FATAL_ERROR "not configured for static tools")
endif()
add_executable(cjpeg-static cjpeg.c)
add_executable(jpegtran-static jpegtran.c)
add_executable(tjbench refused.c)
]])
write_tool(mozjpeg/cjpeg.c "mozjpeg version 4.0.3 (stand-in)")
write_tool(mozjpeg/jpegtran.c "stand-in jpegtran")
write_standin(mozjpeg/refused.c "#error only the embedded tools may be built\n")
execute_process(COMMAND "${GIT}" init -q "${trees}/jpegli")
execute_process(COMMAND "${GIT}" -C "${trees}/jpegli" add -A)
execute_process(COMMAND "${GIT}" -C "${trees}/jpegli" -c user.name=t -c user.email=t@t.invalid
                        commit -q -m stand-in)
execute_process(COMMAND "${GIT}" -C "${trees}/jpegli" rev-parse HEAD
                OUTPUT_VARIABLE jpegli_commit OUTPUT_STRIP_TRAILING_WHITESPACE)
string(SUBSTRING "${jpegli_commit}" 0 12 jpegli_short)
file(GLOB_RECURSE trees_before LIST_DIRECTORIES true "${trees}/*")

set(common -G "${GENERATOR}" -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DGIT_EXECUTABLE=${GIT} -DORVEL_SOURCE_DIR=${ORVEL_SOURCE_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result STREQUAL "0")
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_match text pattern)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "expected to match '${pattern}':\n${text}")
  endif()
endfunction()

# --- 1. Local source trees ----------------------------------------------------
set(build "${SCRATCH}/local")
run(${CMAKE_COMMAND} -S "${CMAKE_CURRENT_LIST_DIR}/encoder_build" -B "${build}" ${common}
    -DORVEL_DOWNLOAD_ENCODERS=OFF -DORVEL_JPEGLI_SOURCE_DIR=${trees}/jpegli
    -DORVEL_HIGHWAY_SOURCE_DIR=${trees}/highway -DORVEL_LCMS_SOURCE_DIR=${trees}/lcms
    -DORVEL_LIBJPEG_TURBO_SOURCE_DIR=${trees}/libjpeg-turbo
    -DORVEL_MOZJPEG_SOURCE_DIR=${trees}/mozjpeg)
expect_match("${out}" "Encoder tool 301 jpegli: +jpegli ${jpegli_short}, built from the local")
expect_match("${out}" "Encoder tool 303 jpegtran: MozJPEG 4.0.3, built from the local")
run(${CMAKE_COMMAND} --build "${build}")
run("${build}/embedded_engines_probe")
set(probe "${out}")
foreach(entry "301;jpegli-build/tools/cjpegli;jpegli ${jpegli_short}"
              "302;mozjpeg-build/cjpeg-static;MozJPEG 4.0.3"
              "303;mozjpeg-build/jpegtran-static;MozJPEG 4.0.3")
  list(GET entry 0 id)
  list(GET entry 1 tool)
  list(GET entry 2 version)
  file(SIZE "${build}/encoders/${tool}" size)
  expect_match("${probe}" "${id} ${size} ${version}\n")
endforeach()
# Built once per build folder: a second build has nothing to do.
if(GENERATOR STREQUAL "Ninja")
  run(${CMAKE_COMMAND} --build "${build}")
  expect_match("${out}" "no work to do")
endif()
file(GLOB_RECURSE trees_after LIST_DIRECTORIES true "${trees}/*")
if(NOT trees_before STREQUAL trees_after)
  message(FATAL_ERROR "the build wrote into the given source trees")
endif()

# --- 2. Nothing to build from, no network ---------------------------------------
# The stand-in jpegtran on PATH is what the fallback finds.
file(MAKE_DIRECTORY "${SCRATCH}/bin")
file(COPY_FILE "${build}/encoders/mozjpeg-build/jpegtran-static" "${SCRATCH}/bin/jpegtran")
file(CHMOD "${SCRATCH}/bin/jpegtran" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
set(build "${SCRATCH}/offline")
string(TIMESTAMP start "%s")
run(${CMAKE_COMMAND} -E env "PATH=${SCRATCH}/bin:$ENV{PATH}"
    ${CMAKE_COMMAND} -S "${CMAKE_CURRENT_LIST_DIR}/encoder_build" -B "${build}" ${common}
    -DORVEL_DOWNLOAD_ENCODERS=ON -DORVEL_ENCODER_PROBE_URL=https://192.0.2.1/unreachable.git)
string(TIMESTAMP end "%s")
math(EXPR seconds "${end} - ${start}")
if(seconds GREATER 30)
  message(FATAL_ERROR "configuring without network took ${seconds} s")
endif()
set(configured "${out}")
set(refusal "not built: no ORVEL_JPEGLI_SOURCE_DIR, and https://192.0.2.1/unreachable.git did not answer")
expect_match("${configured}" "Encoder tool 301 jpegli: +[^\n]*${refusal}")
expect_match("${configured}" "Encoder tool 303 jpegtran: ${SCRATCH}/bin/jpegtran from PATH, version: stand-in jpegtran; not built")
if(EXISTS "${build}/encoders/jpegli-build" OR EXISTS "${build}/encoders/mozjpeg-build")
  message(FATAL_ERROR "an upstream build was set up without sources")
endif()
run(${CMAKE_COMMAND} --build "${build}")
run("${build}/embedded_engines_probe")
file(SIZE "${SCRATCH}/bin/jpegtran" size)
expect_match("${out}" "303 ${size} stand-in jpegtran\n")
if(configured MATCHES "301 jpegli: +MISSING")
  expect_match("${out}" "301 0 \n")
endif()

# --- 3. A jpegli tree from a release archive ------------------------------------
file(COPY "${trees}/jpegli/" DESTINATION "${SCRATCH}/archive/jpegli" PATTERN .git EXCLUDE)
file(STRINGS "${ORVEL_SOURCE_DIR}/cmake/BuildEncoders.cmake" pinned
     REGEX "^set\\(_orvel_jpegli_commit ")
string(REGEX REPLACE ".*\"([0-9a-f]+)\".*" "\\1" pinned "${pinned}")
string(SUBSTRING "${pinned}" 0 12 pinned)
set(build "${SCRATCH}/archive-build")
run(${CMAKE_COMMAND} -S "${CMAKE_CURRENT_LIST_DIR}/encoder_build" -B "${build}" ${common}
    -DORVEL_DOWNLOAD_ENCODERS=OFF -DORVEL_JPEGLI_SOURCE_DIR=${SCRATCH}/archive/jpegli
    -DORVEL_HIGHWAY_SOURCE_DIR=${trees}/highway -DORVEL_LCMS_SOURCE_DIR=${trees}/lcms
    -DORVEL_LIBJPEG_TURBO_SOURCE_DIR=${trees}/libjpeg-turbo -DORVEL_ENGINE_MOZJPEG=OFF
    -DORVEL_ENGINE_JPEGTRAN=OFF)
expect_match("${out}" "Encoder tool 301 jpegli: +jpegli ${pinned}, nicht geprüft, built from")
run(${CMAKE_COMMAND} --build "${build}")
if(EXISTS "${trees}/lcms/.git")
  message(FATAL_ERROR "staging wrote into the given Little-CMS tree")
endif()
