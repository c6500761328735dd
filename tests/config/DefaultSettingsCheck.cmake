# The default setting.ini is copied beside an executable only when none is there yet.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(WRITE "${WORK_DIR}/default.ini" "[LANGUAGE]\nfile=english.ini\n")

function(install_defaults)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE=${WORK_DIR}/default.ini -DDESTINATION=${WORK_DIR}/setting.ini
                          -P ${INSTALL_SCRIPT} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "install script failed: ${result}")
  endif()
endfunction()

install_defaults()
file(READ "${WORK_DIR}/setting.ini" first)
if(NOT first STREQUAL "[LANGUAGE]\nfile=english.ini\n")
  message(FATAL_ERROR "default settings not installed: '${first}'")
endif()

file(WRITE "${WORK_DIR}/setting.ini" "[LANGUAGE]\nfile=german.ini\n")
install_defaults()
file(READ "${WORK_DIR}/setting.ini" second)
if(NOT second STREQUAL "[LANGUAGE]\nfile=german.ini\n")
  message(FATAL_ERROR "user settings were overwritten: '${second}'")
endif()
