# Installation beside the two programs and the Debian package (CPack's DEB
# generator, run by scripts/package.sh): the command line, AppStream metainfo,
# man pages, bash completion, the machine-readable copyright file naming each
# embedded tool's version and licence, the Debian changelog and lintian's
# overrides.
# The desktop program, its desktop entry and icons are installed by
# app/CMakeLists.txt.
# Depends are computed by dpkg-shlibdeps from the installed programs.
include(GNUInstallDirs)
set(_orvel_package orvel-jpeg-optimizer)
set(_orvel_docdir ${CMAKE_INSTALL_DATADIR}/doc/${_orvel_package})
set(_orvel_generated ${CMAKE_BINARY_DIR}/package)

install(TARGETS orvel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/orvel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orvel-cli)
if(ORVEL_BUILD_GUI)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/de.orvel.JpegOptimizer.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Debian wants man pages and the changelog compressed, reproducibly (gzip -n).
find_program(ORVEL_GZIP gzip REQUIRED)
mark_as_advanced(ORVEL_GZIP)
function(_orvel_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${ORVEL_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()
set(pages orvel-cli)
if(ORVEL_BUILD_GUI)
  list(APPEND pages OrvelJpegOptimizer)
endif()
set(compressed "")
foreach(page IN LISTS pages)
  _orvel_gzip(${CMAKE_SOURCE_DIR}/docs/man/${page}.1 ${_orvel_generated}/${page}.1.gz)
  install(FILES ${_orvel_generated}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  list(APPEND compressed ${_orvel_generated}/${page}.1.gz)
endforeach()

# The copyright file: our part (resources/copyright.in) with the versions of
# the tools this build embeds, and the licence texts of those tools copied
# from their source trees. The trees may be downloaded only at build time,
# so the file is written then, by CopyrightFile.cmake. What it cannot find
# it lists in ORVEL_COPYRIGHT_MISSING, and InstallCheck.cmake then refuses
# to install.
set(_orvel_copyright ${_orvel_generated}/copyright)
set(tools JPEGLI MOZJPEG JPEGTRAN)
set(programs cjpegli cjpeg jpegtran)
set(embedded "")
set(versions "")
foreach(tool program IN ZIP_LISTS tools programs)
  get_property(path GLOBAL PROPERTY ORVEL_EMBEDDED_${tool}_PATH)
  if(path)
    list(APPEND embedded ${program})
  endif()
  get_property(version GLOBAL PROPERTY ORVEL_EMBEDDED_${tool}_VERSION)
  list(APPEND versions "-DORVEL_COPYRIGHT_${tool}=${version}")
endforeach()
list(JOIN embedded "," embedded)
orvel_encoder_licence_trees(jpegli_tree highway_tree libjpeg_turbo_tree mozjpeg_tree)
add_custom_command(OUTPUT ${_orvel_copyright}
  COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${CMAKE_SOURCE_DIR}/resources/copyright.in
    -DOUTPUT=${_orvel_copyright} -DMISSING=${ORVEL_COPYRIGHT_MISSING} ${versions}
    -DEMBEDDED=${embedded} -DJPEGLI_TREE=${jpegli_tree} -DHIGHWAY_TREE=${highway_tree}
    -DLIBJPEG_TREES=${mozjpeg_tree},${libjpeg_turbo_tree}
    -P ${CMAKE_SOURCE_DIR}/cmake/CopyrightFile.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/copyright.in ${CMAKE_SOURCE_DIR}/cmake/CopyrightFile.cmake
  COMMENT "Copying the encoders' licence texts into the copyright file"
  VERBATIM)
configure_file(${CMAKE_SOURCE_DIR}/resources/changelog.Debian.in
               ${_orvel_generated}/changelog.Debian @ONLY)
_orvel_gzip(${_orvel_generated}/changelog.Debian ${_orvel_generated}/changelog.Debian.gz)
list(APPEND compressed ${_orvel_generated}/changelog.Debian.gz)
add_custom_target(orvel_package_files ALL DEPENDS ${compressed} ${_orvel_copyright})
# Downloaded trees exist once their projects are fetched.
foreach(upstream orvel_jpegli_build orvel_mozjpeg_build)
  if(TARGET ${upstream})
    add_dependencies(orvel_package_files ${upstream})
  endif()
endforeach()
install(FILES ${_orvel_copyright} ${_orvel_generated}/changelog.Debian.gz
        DESTINATION ${_orvel_docdir})
install(FILES ${CMAKE_SOURCE_DIR}/resources/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${_orvel_package})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${_orvel_package})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvel JPEG Optimizer developers <packages@orvel.de>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make JPEG photos smaller without visible loss")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvel JPEG Optimizer re-encodes JPEG photographs with a short, fixed plan of
encoders (jpegli, MozJPEG, lossless jpegtran and libjpeg-turbo), keeps the
smallest result and writes it only when a windowed quality analysis finds no
visible difference to the original.
.
The package holds the Qt desktop program and the command-line program
orvel-cli. The encoder tools are embedded in both. The user interface is in
German.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the X11/Wayland
# platform plugins, the fonts the windows are laid out for, Qt's German texts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-cantarell, fonts-dejavu-core, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package-output)
include(CPack)
