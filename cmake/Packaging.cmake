# Installing as a desktop game, and the Debian package (CPack). Everything that names a
# version takes it from project(), so the metainfo, the package and the version note agree.

set(GLOMPER_APP_ID "io.github.glomper.Glomper")
set(GLOMPER_MAINTAINER "The Glomper developers <glomper@example.org>")

# The metainfo release entry carries the display version, which has no place for a patch
# level: 1.0.1 would be listed as 1.00 again and look like the release before it.
if(NOT PROJECT_VERSION_PATCH EQUAL 0 OR PROJECT_VERSION_MINOR GREATER 99)
  message(FATAL_ERROR "Version ${PROJECT_VERSION} has no display form MAJOR.MM: "
                      "release as MAJOR.MINOR.0 with MINOR below 100")
endif()
if(NOT GLOMPER_RELEASE_DATE MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
  message(FATAL_ERROR "GLOMPER_RELEASE_DATE must be YYYY-MM-DD, not '${GLOMPER_RELEASE_DATE}'")
endif()

# The Debian changelog wants the date as RFC 2822, weekday included; working it out from the
# fixed release date keeps the package the same whenever it is built.
function(glomper_rfc2822_date iso out)
  string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _ "${iso}")
  set(y "${CMAKE_MATCH_1}")
  math(EXPR m "1${CMAKE_MATCH_2} - 100")  # the leading 1 keeps "08" from reading as octal
  math(EXPR d "1${CMAKE_MATCH_3} - 100")
  set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR i "${m} - 1")
  list(GET month_offsets ${i} offset)
  set(yy ${y})
  if(m LESS 3)
    math(EXPR yy "${y} - 1")
  endif()
  math(EXPR weekday "(${yy} + ${yy} / 4 - ${yy} / 100 + ${yy} / 400 + ${offset} + ${d}) % 7")
  set(days Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET days ${weekday} day_name)
  list(GET months ${i} month_name)
  set(${out} "${day_name}, ${CMAKE_MATCH_3} ${month_name} ${y} 00:00:00 +0000" PARENT_SCOPE)
endfunction()
glomper_rfc2822_date("${GLOMPER_RELEASE_DATE}" GLOMPER_RELEASE_DATE_RFC2822)

# The licence text from LICENSE, as the copyright file's indented License paragraph.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" _license)
string(FIND "${_license}" "Permission is hereby granted" _start)
string(SUBSTRING "${_license}" ${_start} -1 _license)
string(STRIP "${_license}" _license)
string(REPLACE "\n\n" "\n.\n" _license "${_license}")
string(REPLACE "\n" "\n " GLOMPER_LICENSE_TEXT " ${_license}")

set(_out "${PROJECT_BINARY_DIR}/packaging")
configure_file(packaging/${GLOMPER_APP_ID}.desktop.in ${_out}/${GLOMPER_APP_ID}.desktop @ONLY)
configure_file(packaging/${GLOMPER_APP_ID}.metainfo.xml.in ${_out}/${GLOMPER_APP_ID}.metainfo.xml
               @ONLY)
configure_file(packaging/copyright.in ${_out}/copyright @ONLY)
configure_file(packaging/changelog.in ${_out}/changelog @ONLY)
configure_file(docs/glomper.6.in ${_out}/glomper.6 @ONLY)

# Compressed as lintian wants them: best compression, no name or time stamp in the header.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
foreach(name glomper.6 changelog)
  add_custom_command(
    OUTPUT ${_out}/${name}.gz
    COMMAND ${GZIP_EXECUTABLE} -9nkf ${_out}/${name}
    DEPENDS ${_out}/${name}
    COMMENT "Compressing ${name}"
    VERBATIM)
endforeach()
add_custom_target(glomper_docs ALL DEPENDS ${_out}/glomper.6.gz ${_out}/changelog.gz)

install(FILES ${_out}/${GLOMPER_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_out}/${GLOMPER_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 32x32 48x48 64x64 128x128 256x256)
  install(FILES assets/icons/hicolor/${size}/apps/glomper.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()
install(FILES ${_out}/glomper.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${_out}/copyright ${_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- the Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The Glomper developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION_FILE "${PROJECT_SOURCE_DIR}/packaging/description.txt")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${GLOMPER_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The message boxes load GTK 3 with dlopen in a child process, so dpkg-shlibdeps cannot see
# it; without it they fall back to the game's own Xlib box, which draws with the core fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libgtk-3-0)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS xfonts-base)
# Read by cpack (cmake/CPackRelease.cmake), which refuses any other build.
set(CPACK_GLOMPER_BUILD_TYPE "${CMAKE_BUILD_TYPE}")
set(CPACK_GLOMPER_INSTALL_BINDIR "${GLOMPER_INSTALL_BINDIR}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/CPackRelease.cmake")
include(CPack)
