# Building the encoder tools from pinned upstream sources: cjpegli from the
# jpegli project, cjpeg and jpegtran from MozJPEG 4.0.3. EmbedEngines.cmake
# embeds what this file builds; a tool named by its ORVEL_ENGINE_* binary (or
# switched off there) is not built at all.
#
# Each upstream project's sources come, in this order, from
#   1. local source trees named by cache variables, for machines without
#      internet: ORVEL_JPEGLI_SOURCE_DIR with ORVEL_HIGHWAY_SOURCE_DIR,
#      ORVEL_LCMS_SOURCE_DIR and ORVEL_LIBJPEG_TURBO_SOURCE_DIR (each of these
#      three defaults to the jpegli tree's own third_party/ entry), and
#      ORVEL_MOZJPEG_SOURCE_DIR;
#   2. a git download pinned by full commit hash (jpegli's commit also pins its
#      three dependencies as submodules), when ORVEL_DOWNLOAD_ENCODERS is on
#      and the host answers within a few seconds. A download already made in
#      this build folder is used again without asking the network.
# What cannot be built falls back to the PATH lookup of EmbedEngines.cmake,
# whose one configure line per tool then says why.
#
# The projects are built once per build folder by ExternalProject, with their
# own flags (none of ours: no -Werror, no sanitizers) and only the targets we
# embed. The given source trees are never written to: jpegli is configured
# from a staging folder in the build folder whose entries link to them.
#
# The results are global properties, read by EmbedEngines.cmake:
#   ORVEL_BUILT_<TOOL>_PATH     the binary the build produces; empty when not built
#   ORVEL_BUILT_<TOOL>_TARGET   the target that produces it
#   ORVEL_BUILT_<TOOL>_VERSION  recorded version, e.g. "MozJPEG 4.0.3"; may be empty
#   ORVEL_BUILT_<TOOL>_NOTE     where the sources came from, or why nothing was built
# with <TOOL> one of JPEGLI, MOZJPEG, JPEGTRAN.
include_guard(GLOBAL)
include(ExternalProject)
find_package(Git QUIET)

option(ORVEL_DOWNLOAD_ENCODERS
       "Download the pinned encoder sources when no local source tree is named" ON)
set(ORVEL_JPEGLI_SOURCE_DIR "" CACHE PATH "Local jpegli source tree (empty: download)")
set(ORVEL_HIGHWAY_SOURCE_DIR "" CACHE PATH
    "Local Highway source tree for jpegli (empty: the jpegli tree's third_party/highway)")
set(ORVEL_LCMS_SOURCE_DIR "" CACHE PATH
    "Local Little-CMS source tree for jpegli (empty: the jpegli tree's third_party/lcms)")
set(ORVEL_LIBJPEG_TURBO_SOURCE_DIR "" CACHE PATH
    "Local libjpeg-turbo source tree for jpegli (empty: the jpegli tree's third_party/libjpeg-turbo)")
set(ORVEL_MOZJPEG_SOURCE_DIR "" CACHE PATH "Local MozJPEG 4.0.3 source tree (empty: download)")
# ORVEL_ENCODER_PROBE_URL, when defined, is where the reachability probe asks
# instead of the jpegli repository; tests point it at an address that never
# answers.

set(_orvel_jpegli_repository "https://github.com/google/jpegli.git")
set(_orvel_jpegli_commit "031a0077f5799a6041004267fc12b956c1f52a20")
set(_orvel_mozjpeg_repository "https://github.com/mozilla/mozjpeg.git")
# The commit the tag v4.0.3 (tag object 9e24901c6974bd7cf2ed15833be2877092d890ee)
# points at; a tag could be moved, the commit cannot.
set(_orvel_mozjpeg_commit "ed21c3ba6fff72ed9ca0b2cf03bcc6f41ac5271d")
set(_orvel_mozjpeg_version "4.0.3")
set(_orvel_probe_seconds 5)

# Where this build folder keeps its download of <project> (jpegli, mozjpeg).
function(_orvel_download_folder project out)
  set(${out} "${CMAKE_BINARY_DIR}/encoders/${project}-src" PARENT_SCOPE)
endfunction()

function(_orvel_set_built tool path target version note)
  set_property(GLOBAL PROPERTY ORVEL_BUILT_${tool}_PATH "${path}")
  set_property(GLOBAL PROPERTY ORVEL_BUILT_${tool}_TARGET "${target}")
  set_property(GLOBAL PROPERTY ORVEL_BUILT_${tool}_VERSION "${version}")
  set_property(GLOBAL PROPERTY ORVEL_BUILT_${tool}_NOTE "${note}")
endfunction()

# Empty <out> when a pinned download from <repository> may be tried, else the
# reason why not. Each repository is asked at most once per configure run and
# never for longer than a few seconds, so an offline machine configures
# without hanging, and each tool's line names the address it asked.
function(_orvel_download_refusal repository out)
  set(url "${ORVEL_ENCODER_PROBE_URL}")
  if(NOT url)
    set(url "${repository}")
  endif()
  string(MD5 key "${url}")
  get_property(asked GLOBAL PROPERTY _ORVEL_DOWNLOAD_REFUSAL_${key} SET)
  if(NOT asked)
    set(refusal "")
    if(NOT ORVEL_DOWNLOAD_ENCODERS)
      set(refusal "downloads of ${repository} are switched off (ORVEL_DOWNLOAD_ENCODERS=OFF)")
    elseif(NOT GIT_FOUND)
      set(refusal "git is not installed")
    else()
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env GIT_TERMINAL_PROMPT=0 GIT_ASKPASS=
                "${GIT_EXECUTABLE}" ls-remote --heads "${url}"
        RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET TIMEOUT ${_orvel_probe_seconds})
      if(NOT result STREQUAL "0")
        set(refusal "${url} did not answer within ${_orvel_probe_seconds} s (no network?)")
      endif()
    endif()
    set_property(GLOBAL PROPERTY _ORVEL_DOWNLOAD_REFUSAL_${key} "${refusal}")
  endif()
  get_property(refusal GLOBAL PROPERTY _ORVEL_DOWNLOAD_REFUSAL_${key})
  set(${out} "${refusal}" PARENT_SCOPE)
endfunction()

# Empty <out> when the pinned sources are already in <source> or may be
# downloaded there from <repository>; else why not, for a project whose local
# tree <variable> is not set.
function(_orvel_pinned_source_refusal variable source repository out)
  set(refusal "")
  if(NOT EXISTS "${source}/CMakeLists.txt")
    _orvel_download_refusal("${repository}" reason)
    if(reason)
      set(refusal "no ${variable}, and ${reason}")
    endif()
  endif()
  set(${out} "${refusal}" PARENT_SCOPE)
endfunction()

# The commit a local git checkout stands at; empty when it is none.
function(_orvel_source_commit dir out)
  set(commit "")
  if(GIT_FOUND AND EXISTS "${dir}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${dir}" rev-parse HEAD
                    OUTPUT_VARIABLE commit ERROR_QUIET RESULT_VARIABLE result
                    OUTPUT_STRIP_TRAILING_WHITESPACE TIMEOUT 10)
    if(NOT result STREQUAL "0" OR NOT commit MATCHES "^[0-9a-f]+$")
      set(commit "")
    endif()
  endif()
  set(${out} "${commit}" PARENT_SCOPE)
endfunction()

# Points the symbolic link <link> at <target>, replacing a link that points
# elsewhere; only links of our own staging folder are ever removed.
function(_orvel_link target link)
  if(IS_SYMLINK "${link}")
    file(READ_SYMLINK "${link}" current)
    if(current STREQUAL target)
      return()
    endif()
    file(REMOVE "${link}")
  endif()
  file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
endfunction()

# Links every entry of <from> into <into>, except the names in ARGN.
function(_orvel_link_entries from into)
  file(GLOB entries RELATIVE "${from}" LIST_DIRECTORIES true "${from}/*")
  foreach(entry IN LISTS entries)
    if(NOT entry IN_LIST ARGN)
      _orvel_link("${from}/${entry}" "${into}/${entry}")
    endif()
  endforeach()
endfunction()

# jpegli builds its bundled Little-CMS only when third_party/lcms/.git exists,
# which a tree unpacked from a release archive lacks. So <stage> is a folder
# of links to the tree's entries beside an empty .git folder of our own, and
# an archive tree builds like a checkout. Written only inside the staging
# folder: a link there from an earlier configure is replaced, never followed.
function(_orvel_stage_lcms tree stage)
  if(IS_SYMLINK "${stage}")
    file(REMOVE "${stage}")
  endif()
  file(MAKE_DIRECTORY "${stage}/.git")
  _orvel_link_entries("${tree}" "${stage}" .git)
endfunction()

# The source tree of jpegli's dependency <name>: the one named by
# ORVEL_<variable>_SOURCE_DIR, else the jpegli tree's third_party/<name>.
function(_orvel_jpegli_dependency_tree jpegli name variable out)
  set(tree "${jpegli}/third_party/${name}")
  if(ORVEL_${variable}_SOURCE_DIR)
    get_filename_component(tree "${ORVEL_${variable}_SOURCE_DIR}" ABSOLUTE)
  endif()
  set(${out} "${tree}" PARENT_SCOPE)
endfunction()

# Assembles the jpegli tree from the local source trees in <stage>: links to
# the jpegli tree's entries, with third_party/ holding the dependency trees.
# <out_refusal> is empty on success, else says which tree is missing.
function(_orvel_stage_jpegli stage out_refusal)
  # Links must not depend on the folder configure ran in.
  get_filename_component(jpegli "${ORVEL_JPEGLI_SOURCE_DIR}" ABSOLUTE)
  if(NOT EXISTS "${jpegli}/CMakeLists.txt" OR NOT IS_DIRECTORY "${jpegli}/third_party")
    set(${out_refusal} "ORVEL_JPEGLI_SOURCE_DIR (${jpegli}) is no jpegli source tree" PARENT_SCOPE)
    return()
  endif()
  # Each dependency, its cache variable, and a file every tree of it has.
  set(names highway lcms libjpeg-turbo)
  set(variables HIGHWAY LCMS LIBJPEG_TURBO)
  set(markers CMakeLists.txt include/lcms2.h jpeglib.h)
  set(trees "")
  foreach(name variable marker IN ZIP_LISTS names variables markers)
    _orvel_jpegli_dependency_tree("${jpegli}" ${name} ${variable} tree)
    if(NOT EXISTS "${tree}/${marker}")
      set(${out_refusal}
          "no ${name} source tree (set ORVEL_${variable}_SOURCE_DIR; ${tree} lacks ${marker})"
          PARENT_SCOPE)
      return()
    endif()
    list(APPEND trees "${tree}")
  endforeach()

  file(MAKE_DIRECTORY "${stage}/third_party")
  _orvel_link_entries("${jpegli}" "${stage}" third_party)
  _orvel_link_entries("${jpegli}/third_party" "${stage}/third_party" ${names})
  foreach(name tree IN ZIP_LISTS names trees)
    if(name STREQUAL "lcms")
      _orvel_stage_lcms("${tree}" "${stage}/third_party/lcms")
    else()
      _orvel_link("${tree}" "${stage}/third_party/${name}")
    endif()
  endforeach()
  set(${out_refusal} "" PARENT_SCOPE)
endfunction()

# Compiler settings handed to an upstream build: its own compilers and our
# compiler launcher (ccache), never our flags.
function(_orvel_upstream_compilers prefer_clang out)
  set(c "${CMAKE_C_COMPILER}")
  set(cxx "${CMAKE_CXX_COMPILER}")
  if(prefer_clang)
    # jpegli and Highway are developed with clang and build fastest with it.
    find_program(ORVEL_ENCODER_CLANG clang)
    find_program(ORVEL_ENCODER_CLANGXX clang++)
    mark_as_advanced(ORVEL_ENCODER_CLANG ORVEL_ENCODER_CLANGXX)
    if(ORVEL_ENCODER_CLANG AND ORVEL_ENCODER_CLANGXX)
      set(c "${ORVEL_ENCODER_CLANG}")
      set(cxx "${ORVEL_ENCODER_CLANGXX}")
    endif()
  endif()
  set(arguments -DCMAKE_C_COMPILER=${c} -DCMAKE_CXX_COMPILER=${cxx} -DCMAKE_BUILD_TYPE=Release)
  foreach(language C CXX)
    if(CMAKE_${language}_COMPILER_LAUNCHER)
      list(APPEND arguments -DCMAKE_${language}_COMPILER_LAUNCHER=${CMAKE_${language}_COMPILER_LAUNCHER})
    endif()
  endforeach()
  set(${out} "${arguments}" PARENT_SCOPE)
endfunction()

# Where the jpegli sources come from: ExternalProject arguments in
# <out_source>, the version in <out_version> and a note, or a refusal.
function(_orvel_jpegli_source root out_source out_version out_note out_refusal)
  if(ORVEL_JPEGLI_SOURCE_DIR)
    _orvel_stage_jpegli("${root}/jpegli-stage" refusal)
    set(${out_refusal} "${refusal}" PARENT_SCOPE)
    _orvel_source_commit("${ORVEL_JPEGLI_SOURCE_DIR}" commit)
    set(note "local source tree ${ORVEL_JPEGLI_SOURCE_DIR}")
    set(unverified "")
    if(NOT commit)
      # A tree without git (a release archive): what the build expects is
      # known, whether the tree is at it is not.
      set(commit "${_orvel_jpegli_commit}")
      set(unverified ", nicht geprüft")
      set(note "${note}, no git checkout: the pinned commit is assumed, not verified")
    elseif(NOT commit STREQUAL _orvel_jpegli_commit)
      string(SUBSTRING "${_orvel_jpegli_commit}" 0 12 pinned)
      set(note "${note}, not the pinned commit ${pinned}")
    endif()
    set(${out_source} SOURCE_DIR "${root}/jpegli-stage" PARENT_SCOPE)
    set(${out_note} "${note}" PARENT_SCOPE)
  else()
    set(commit "${_orvel_jpegli_commit}")
    _orvel_download_folder(jpegli source)
    _orvel_pinned_source_refusal(ORVEL_JPEGLI_SOURCE_DIR "${source}" "${_orvel_jpegli_repository}"
                                 refusal)
    set(${out_refusal} "${refusal}" PARENT_SCOPE)
    set(${out_source} SOURCE_DIR "${source}" GIT_REPOSITORY "${_orvel_jpegli_repository}"
        GIT_TAG "${commit}" GIT_PROGRESS OFF
        GIT_SUBMODULES "third_party/highway;third_party/lcms;third_party/libjpeg-turbo"
        PARENT_SCOPE)
    set(${out_note} "pinned download of ${_orvel_jpegli_repository}" PARENT_SCOPE)
  endif()
  set(version "")
  if(commit)
    string(SUBSTRING "${commit}" 0 12 short)
    set(version "jpegli ${short}${unverified}")
  endif()
  set(${out_version} "${version}" PARENT_SCOPE)
endfunction()

function(_orvel_build_jpegli)
  set(root "${CMAKE_BINARY_DIR}/encoders")
  _orvel_jpegli_source("${root}" source version note refusal)
  if(refusal)
    _orvel_set_built(JPEGLI "" "" "" "${refusal}")
    return()
  endif()
  _orvel_upstream_compilers(TRUE compilers)
  set(binary "${root}/jpegli-build/tools/cjpegli")
  ExternalProject_Add(orvel_jpegli_build
    ${source}
    PREFIX "${root}/jpegli"
    BINARY_DIR "${root}/jpegli-build"
    UPDATE_DISCONNECTED ON
    CMAKE_ARGS ${compilers} -DBUILD_TESTING=OFF -DBUILD_SHARED_LIBS=OFF
      -DJPEGLI_STATIC=ON -DJPEGLI_ENABLE_BENCHMARK=OFF -DJPEGLI_ENABLE_DOXYGEN=OFF
      -DJPEGLI_ENABLE_MANPAGES=OFF -DJPEGLI_ENABLE_JNI=OFF -DJPEGLI_ENABLE_SJPEG=OFF
      -DJPEGLI_ENABLE_OPENEXR=OFF -DJPEGLI_ENABLE_SKCMS=OFF -DJPEGLI_ENABLE_FUZZERS=OFF
      -DJPEGLI_ENABLE_TCMALLOC=OFF -DJPEGLI_ENABLE_DEVTOOLS=OFF -DCMAKE_EXE_LINKER_FLAGS=-s
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target cjpegli
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS "${binary}"
    LOG_DOWNLOAD ON LOG_UPDATE ON LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)
  _orvel_set_built(JPEGLI "${binary}" orvel_jpegli_build "${version}" "${note}")
endfunction()

# The version a MozJPEG source tree declares in its CMakeLists.txt.
function(_orvel_mozjpeg_tree_version dir out)
  file(STRINGS "${dir}/CMakeLists.txt" lines REGEX "^set\\(VERSION [0-9.]+\\)" LIMIT_COUNT 1)
  string(REGEX REPLACE "^set\\(VERSION ([0-9.]+)\\).*" "\\1" version "${lines}")
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

function(_orvel_build_mozjpeg)
  set(wanted "")
  if("${ORVEL_ENGINE_MOZJPEG}" STREQUAL "")
    list(APPEND wanted MOZJPEG)
  endif()
  if("${ORVEL_ENGINE_JPEGTRAN}" STREQUAL "")
    list(APPEND wanted JPEGTRAN)
  endif()
  if(NOT wanted)
    return()
  endif()

  set(root "${CMAKE_BINARY_DIR}/encoders")
  set(refusal "")
  if(ORVEL_MOZJPEG_SOURCE_DIR)
    if(NOT EXISTS "${ORVEL_MOZJPEG_SOURCE_DIR}/cjpeg.c")
      set(refusal "ORVEL_MOZJPEG_SOURCE_DIR (${ORVEL_MOZJPEG_SOURCE_DIR}) is no MozJPEG source tree")
    else()
      _orvel_mozjpeg_tree_version("${ORVEL_MOZJPEG_SOURCE_DIR}" version)
      set(source SOURCE_DIR "${ORVEL_MOZJPEG_SOURCE_DIR}")
      set(note "local source tree ${ORVEL_MOZJPEG_SOURCE_DIR}")
      if(NOT version STREQUAL _orvel_mozjpeg_version)
        set(note "${note}, not release ${_orvel_mozjpeg_version}")
      endif()
    endif()
  else()
    set(version "${_orvel_mozjpeg_version}")
    _orvel_download_folder(mozjpeg downloaded)
    _orvel_pinned_source_refusal(ORVEL_MOZJPEG_SOURCE_DIR "${downloaded}" "${_orvel_mozjpeg_repository}"
                                 refusal)
    set(source SOURCE_DIR "${downloaded}" GIT_REPOSITORY "${_orvel_mozjpeg_repository}"
        GIT_TAG "${_orvel_mozjpeg_commit}" GIT_PROGRESS OFF)
    set(note "pinned download of ${_orvel_mozjpeg_repository}")
  endif()
  if(refusal)
    foreach(tool IN LISTS wanted)
      _orvel_set_built(${tool} "" "" "" "${refusal}")
    endforeach()
    return()
  endif()

  set(version_text "")
  if(version)
    set(version_text "MozJPEG ${version}")
  endif()
  _orvel_upstream_compilers(FALSE compilers)
  set(build "${root}/mozjpeg-build")
  ExternalProject_Add(orvel_mozjpeg_build
    ${source}
    PREFIX "${root}/mozjpeg"
    BINARY_DIR "${build}"
    UPDATE_DISCONNECTED ON
    # Fully static: the tools run on any x86-64 Linux.
    CMAKE_ARGS ${compilers} -DENABLE_SHARED=OFF -DPNG_SUPPORTED=OFF -DWITH_TURBOJPEG=OFF
      -DWITH_JAVA=OFF "-DCMAKE_EXE_LINKER_FLAGS=-static -s"
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target cjpeg-static jpegtran-static
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS "${build}/cjpeg-static" "${build}/jpegtran-static"
    LOG_DOWNLOAD ON LOG_UPDATE ON LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)
  foreach(tool IN LISTS wanted)
    if(tool STREQUAL "MOZJPEG")
      set(binary "${build}/cjpeg-static")
    else()
      set(binary "${build}/jpegtran-static")
    endif()
    _orvel_set_built(${tool} "${binary}" orvel_mozjpeg_build "${version_text}" "${note}")
  endforeach()
endfunction()

# The source trees the package's copyright file takes the licence texts from
# (Packaging.cmake): the local tree when one is named, also for a tool given
# as a binary, since that is the one it was built from; else the download
# folder when this build downloads the project; else empty. jpegli's
# dependencies default to its third_party/ entries, as for the build.
function(orvel_encoder_licence_trees out_jpegli out_highway out_libjpeg_turbo out_mozjpeg)
  set(jpegli "")
  if(ORVEL_JPEGLI_SOURCE_DIR)
    get_filename_component(jpegli "${ORVEL_JPEGLI_SOURCE_DIR}" ABSOLUTE)
  elseif(TARGET orvel_jpegli_build)
    _orvel_download_folder(jpegli jpegli)
  endif()
  set(names highway libjpeg-turbo)
  set(variables HIGHWAY LIBJPEG_TURBO)
  set(outs out_highway out_libjpeg_turbo)
  foreach(name variable out IN ZIP_LISTS names variables outs)
    set(tree "")
    if(jpegli OR ORVEL_${variable}_SOURCE_DIR)
      _orvel_jpegli_dependency_tree("${jpegli}" ${name} ${variable} tree)
    endif()
    set(${${out}} "${tree}" PARENT_SCOPE)
  endforeach()
  set(mozjpeg "")
  if(ORVEL_MOZJPEG_SOURCE_DIR)
    get_filename_component(mozjpeg "${ORVEL_MOZJPEG_SOURCE_DIR}" ABSOLUTE)
  elseif(TARGET orvel_mozjpeg_build)
    _orvel_download_folder(mozjpeg mozjpeg)
  endif()
  set(${out_jpegli} "${jpegli}" PARENT_SCOPE)
  set(${out_mozjpeg} "${mozjpeg}" PARENT_SCOPE)
endfunction()

# Sets up the upstream builds once per configure run.
function(orvel_build_encoders)
  get_property(done GLOBAL PROPERTY _ORVEL_ENCODERS_SET_UP)
  if(done)
    return()
  endif()
  set_property(GLOBAL PROPERTY _ORVEL_ENCODERS_SET_UP TRUE)
  if("${ORVEL_ENGINE_JPEGLI}" STREQUAL "")
    _orvel_build_jpegli()
  endif()
  _orvel_build_mozjpeg()
endfunction()
