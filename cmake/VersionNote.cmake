# The version record, readable from the executable without running it (`readelf -n`):
# an ELF package-metadata note built from the project version.
math(EXPR _minor_padded "${PROJECT_VERSION_MINOR}")
if(_minor_padded LESS 10)
  set(_minor_padded "0${_minor_padded}")
endif()
set(GLOMPER_DISPLAY_VERSION "${PROJECT_VERSION_MAJOR}.${_minor_padded}")
set(GLOMPER_PRODUCT_NAME "Glomper")
set(GLOMPER_NUMERIC_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")

function(glomper_version_note target)
  set(json "{\"type\":\"deb\",\"os\":\"debian\",\"name\":\"glomper\",\"version\":\"${PROJECT_VERSION}\",\"ProductName\":\"${GLOMPER_PRODUCT_NAME}\",\"InternalName\":\"${GLOMPER_PRODUCT_NAME}\",\"OriginalFilename\":\"Glomper.exe\",\"FileVersion\":\"${GLOMPER_DISPLAY_VERSION}\",\"ProductVersion\":\"${GLOMPER_DISPLAY_VERSION}\",\"FileVersionNumeric\":\"${GLOMPER_NUMERIC_VERSION}\",\"StringFileInfo\":\"040904B0\"}")
  # A response file keeps the JSON's quotes and commas away from the compiler driver.
  set(rsp "${PROJECT_BINARY_DIR}/${target}-version-note.rsp")
  file(CONFIGURE OUTPUT "${rsp}" CONTENT "-Xlinker '--package-metadata=${json}'\n")
  target_link_options(${target} PRIVATE "@${rsp}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${rsp}")
endfunction()
