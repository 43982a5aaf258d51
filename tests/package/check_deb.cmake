# cmake -DDPKG_DEB=... -DFILE_COMMAND=... -DDEB=... -DUNPACKED=... -DARCH=... -DSUMMARY=...
#       -P check_deb.cmake
# The package's control fields and its files.
include(${CMAKE_CURRENT_LIST_DIR}/expect.cmake)

foreach(field Package Architecture Section Priority Depends Recommends Suggests Maintainer
              Description)
  run_output(${field} "${DPKG_DEB}" -f "${DEB}" ${field})
endforeach()
expect_equal("Package" "${Package}" "glomper")
expect_equal("Architecture" "${Architecture}" "${ARCH}")
expect_equal("Section" "${Section}" "games")
expect_equal("Priority" "${Priority}" "optional")
# Found by dpkg-shlibdeps from what the game links, so each comes with its minimum version.
expect_match("Depends" "${Depends}" "(^|, )libsdl2-2\\.0-0 \\(>= [0-9.]+\\)(,|$)")
# The game decodes its own pictures: SDL2_image is for the icon tests alone.
expect_no_match("Depends" "${Depends}" "sdl2-image")
expect_match("Depends" "${Depends}" "(^|, )libc6 \\(>= [0-9.]+\\)(,|$)")
expect_no_match("Depends" "${Depends}" "gtk")
expect_equal("Recommends" "${Recommends}" "libgtk-3-0")
expect_equal("Suggests" "${Suggests}" "xfonts-base")
expect_match("Maintainer" "${Maintainer}" "^[^<]+ <[^@>]+@[^>]+>$")
string(REGEX REPLACE "\n.*" "" synopsis "${Description}")
expect_equal("Description synopsis" "${synopsis}" "${SUMMARY}")

run_output(listing "${DPKG_DEB}" --contents "${DEB}")
string(REPLACE "\n" ";" listing "${listing}")
set(files "")
foreach(line IN LISTS listing)
  if(line MATCHES "^-.* \\./(.*)$")  # regular files only
    list(APPEND files "${CMAKE_MATCH_1}")
  elseif(NOT line MATCHES "^d")
    problem("neither a file nor a directory: ${line}")
  endif()
endforeach()
list(SORT files)
set(expected
    usr/games/glomper
    usr/share/applications/io.github.glomper.Glomper.desktop
    usr/share/doc/glomper/changelog.gz
    usr/share/doc/glomper/copyright
    usr/share/icons/hicolor/128x128/apps/glomper.png
    usr/share/icons/hicolor/256x256/apps/glomper.png
    usr/share/icons/hicolor/32x32/apps/glomper.png
    usr/share/icons/hicolor/48x48/apps/glomper.png
    usr/share/icons/hicolor/64x64/apps/glomper.png
    usr/share/man/man6/glomper.6.gz
    usr/share/metainfo/io.github.glomper.Glomper.metainfo.xml)
string(REPLACE ";" "\n    " files_text "${files}")
string(REPLACE ";" "\n    " expected_text "${expected}")
expect_equal("files in the package" "\n    ${files_text}" "\n    ${expected_text}")

run_output(kind "${FILE_COMMAND}" -b "${UNPACKED}/usr/games/glomper")
expect_match("the game" "${kind}" "^ELF .*executable.*, stripped$")
foreach(size 32 48 64 128 256)
  run_output(kind "${FILE_COMMAND}" -b
             "${UNPACKED}/usr/share/icons/hicolor/${size}x${size}/apps/glomper.png")
  expect_match("the ${size}x${size} icon" "${kind}" "^PNG image data, ${size} x ${size},")
endforeach()

file(READ "${UNPACKED}/usr/share/doc/glomper/copyright" copyright)
expect_match("copyright" "${copyright}"
             "^Format: https://www\\.debian\\.org/doc/packaging-manuals/copyright-format/1\\.0/\n")
expect_match("copyright" "${copyright}" "\nFiles: \\*\nCopyright: [0-9]+ [^\n]+\nLicense: MIT\n")
report()
