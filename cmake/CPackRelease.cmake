# Run by cpack. The package is made from the `package` preset's build only: an optimised
# Release build (other types ship slower or debug code) with the game in /usr/games, where
# Debian keeps games.
if(CPACK_GENERATOR STREQUAL "DEB" AND (NOT CPACK_GLOMPER_BUILD_TYPE STREQUAL "Release" OR
                                       NOT CPACK_GLOMPER_INSTALL_BINDIR STREQUAL "games"))
  message(FATAL_ERROR "The package is made from a Release build with the game in games/, "
                      "not '${CPACK_GLOMPER_BUILD_TYPE}' with it in "
                      "'${CPACK_GLOMPER_INSTALL_BINDIR}': use `cmake --workflow --preset package`")
endif()
