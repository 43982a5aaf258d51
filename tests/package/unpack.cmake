# cmake -DDPKG=... -DDEB=... -DDIR=... -P unpack.cmake
# Unpacks the .deb into a fresh tree: the files as dpkg would install them, under DIR.
file(REMOVE_RECURSE "${DIR}")
execute_process(COMMAND "${DPKG}" -x "${DEB}" "${DIR}" COMMAND_ERROR_IS_FATAL ANY)
