# cmake -DCPACK=... -DBUILD_DIR=... -DDEB=... -P make_deb.cmake
# Makes the .deb anew with cpack, and checks that it has the expected name.
file(REMOVE "${DEB}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake"
                WORKING_DIRECTORY "${BUILD_DIR}" COMMAND_ERROR_IS_FATAL ANY)
if(NOT EXISTS "${DEB}")
  file(GLOB made "${BUILD_DIR}/*.deb")
  message(FATAL_ERROR "cpack made no ${DEB}; there is: ${made}")
endif()
