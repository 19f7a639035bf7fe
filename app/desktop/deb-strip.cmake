# CPack pre-build script: strips the staged programs and the MIDI back end the way dh_strip
# does, dropping the .comment and .note sections a plain strip leaves behind (and, from the
# plugin, all but its dynamic symbols), before the package is made.
set(staged ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
file(GLOB programs ${staged}/bin/*)
file(GLOB_RECURSE plugins ${staged}/lib/dual-slider-midi.so)
if(NOT programs OR NOT plugins)
    message(FATAL_ERROR "no programs or no MIDI back end staged in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
    execute_process(COMMAND ${CPACK_DS_STRIP} --remove-section=.comment --remove-section=.note
                            ${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(plugin IN LISTS plugins)
    execute_process(COMMAND ${CPACK_DS_STRIP} --strip-unneeded --remove-section=.comment
                            --remove-section=.note ${plugin} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
