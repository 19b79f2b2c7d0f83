# Included before any install rule, so that installing - and with it the
# Debian package, whether CPack or a Debian build's `cmake --install` makes
# it - stops before a file is installed when the copyright file lacks the
# licence text of an embedded encoder tool: its licence asks for that text
# in the documentation of a binary distribution. CopyrightFile.cmake (run by
# Packaging.cmake) writes ORVEL_COPYRIGHT_MISSING, one line per missing text.
set(ORVEL_COPYRIGHT_MISSING ${CMAKE_BINARY_DIR}/package/copyright.missing)
install(CODE "set(_orvel_copyright_missing \"${ORVEL_COPYRIGHT_MISSING}\")")
install(CODE [[
  if(EXISTS "${_orvel_copyright_missing}")
    file(READ "${_orvel_copyright_missing}" _orvel_missing)
    message(FATAL_ERROR "The copyright file lacks licence texts of embedded encoder tools:\n"
      "${_orvel_missing}Name the source trees those tools were built from "
      "(ORVEL_JPEGLI_SOURCE_DIR, ORVEL_MOZJPEG_SOURCE_DIR, ...; README, Debian package), "
      "or switch the tools off (ORVEL_ENGINE_...=OFF), and build again.")
  endif()
]])
