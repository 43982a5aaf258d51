# cmake -DBUILD_DIR=... -DSTAGE=... -P stage.cmake: a fresh `cmake --install` into STAGE.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${STAGE}"
                COMMAND_ERROR_IS_FATAL ANY)
