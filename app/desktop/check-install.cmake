# Installs the build tree BUILD_DIR into the scratch folder STAGE (as DESTDIR, prefix /usr)
# and checks that the programs, the MIDI back end (in MIDI_BACKEND_DIR), the menu entry, the
# icons, the metadata and the manual pages are all there under one application id APP_ID. Runs
# the freedesktop validators if they are installed.
# Usage: cmake -DBUILD_DIR=... -DSTAGE=... -DAPP_ID=... -DICON_SIZES=... -DMIDI_BACKEND_DIR=...
#        -P this
foreach(var BUILD_DIR STAGE APP_ID ICON_SIZES MIDI_BACKEND_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}); are dual-slider and switcher-sim built?")
endif()

set(usr ${STAGE}/usr)
set(expected
    bin/dual-slider
    bin/switcher-sim
    ${MIDI_BACKEND_DIR}/dual-slider-midi.so
    share/applications/${APP_ID}.desktop
    share/metainfo/${APP_ID}.metainfo.xml
    share/icons/hicolor/scalable/apps/${APP_ID}.svg
    share/man/man1/dual-slider.1.gz
    share/man/man1/switcher-sim.1.gz
    share/doc/dual-slider/copyright)
foreach(size IN LISTS ICON_SIZES)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
endforeach()
set(missing "")
foreach(f IN LISTS expected)
    if(NOT EXISTS ${usr}/${f})
        list(APPEND missing ${f})
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "not installed: ${missing}")
endif()

# The menu entry, the icon and the metadata must name each other, or the menu shows no icon
# and software centres show no entry: the validators check each file, not how they match.
file(STRINGS ${usr}/share/applications/${APP_ID}.desktop entry REGEX "^(Exec|Icon)=")
if(NOT entry STREQUAL "Exec=dual-slider;Icon=${APP_ID}")
    message(FATAL_ERROR "desktop entry says \"${entry}\", expected Exec=dual-slider, Icon=${APP_ID}")
endif()
file(READ ${usr}/share/metainfo/${APP_ID}.metainfo.xml metainfo)
foreach(tag "<id>${APP_ID}</id>" "<launchable type=\"desktop-id\">${APP_ID}.desktop</launchable>")
    string(FIND "${metainfo}" "${tag}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "metainfo lacks ${tag}")
    endif()
endforeach()

# PNG renderings must really have the size of the folder they go to.
foreach(size IN LISTS ICON_SIZES)
    file(READ ${usr}/share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png header LIMIT 24 HEX)
    # Signature (8 bytes), IHDR length and type (8), then width and height (4 each).
    string(SUBSTRING "${header}" 32 8 width_hex)
    string(SUBSTRING "${header}" 40 8 height_hex)
    math(EXPR width "0x${width_hex}")
    math(EXPR height "0x${height_hex}")
    if(NOT width EQUAL size OR NOT height EQUAL size)
        message(FATAL_ERROR "${size}x${size} icon is ${width}x${height}")
    endif()
endforeach()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
    execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${usr}/share/applications/${APP_ID}.desktop
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "desktop-file-validate failed")
    endif()
else()
    message(STATUS "desktop-file-validate not installed: desktop entry not validated")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
    # validate-tree also checks that the launchable desktop file is in the tree.
    execute_process(COMMAND ${APPSTREAMCLI} validate-tree --no-net ${STAGE} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "appstreamcli validate-tree failed")
    endif()
else()
    message(STATUS "appstreamcli not installed: metainfo not validated")
endif()
