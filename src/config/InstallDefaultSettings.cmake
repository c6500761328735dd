# cmake -DSOURCE=<default setting.ini> -DDESTINATION=<path beside the executable> -P InstallDefaultSettings.cmake
# Copies the default settings only where none exist yet: a user's setting.ini is never replaced.
if(NOT DEFINED SOURCE OR NOT DEFINED DESTINATION)
  message(FATAL_ERROR "SOURCE and DESTINATION must be given")
endif()
if(NOT EXISTS "${DESTINATION}" AND NOT IS_SYMLINK "${DESTINATION}")
  file(COPY_FILE "${SOURCE}" "${DESTINATION}")
endif()
