# cmake -D BUILD_DIR=<build> -D PREFIX=<empty folder> -D JET_FILE=<an Access file> -P InstallTest.cmake
# Installs the build into PREFIX and checks what a packager and a desktop expect to find there.

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}\n${err}")
endif()

foreach(f bin/tabulon bin/tabulon-cli libexec/tabulon/tabulon-jet-reader share/applications/tabulon.desktop
          lib/libvelloform.so include/velloform.h lib/pkgconfig/velloform.pc)
    if(NOT EXISTS "${PREFIX}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()

# The desktop entry starts the installed program and names an icon that was installed with it.
file(STRINGS "${PREFIX}/share/applications/tabulon.desktop" icon_line REGEX "^Icon=")
string(REGEX REPLACE "^Icon=" "" icon "${icon_line}")
file(GLOB_RECURSE icons "${PREFIX}/share/icons/hicolor/*/apps/${icon}.*")
if(icon STREQUAL "" OR NOT icons)
    message(FATAL_ERROR "the desktop entry's icon '${icon}' is not under share/icons/hicolor")
endif()
file(STRINGS "${PREFIX}/share/applications/tabulon.desktop" exec_line REGEX "^Exec=tabulon ")
if(NOT exec_line)
    message(FATAL_ERROR "the desktop entry does not start tabulon")
endif()

execute_process(COMMAND "${PREFIX}/bin/tabulon-cli" --help
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Usage:\n  tabulon-cli tables FILE")
    message(FATAL_ERROR "installed tabulon-cli --help failed (${rc}):\n${out}\n${err}")
endif()
execute_process(COMMAND "${PREFIX}/bin/tabulon" --version
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "1\\.0")
    message(FATAL_ERROR "installed tabulon --version failed (${rc}):\n${out}\n${err}")
endif()

# The installed tabulon-cli reads Access files through the installed reader helper (libexec/tabulon):
# it works there, and says what is missing when the helper is not.
file(COPY "${JET_FILE}" DESTINATION "${PREFIX}/data")
get_filename_component(jet_name "${JET_FILE}" NAME)
set(jet "${PREFIX}/data/${jet_name}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=TABULON_JET_READER XDG_CACHE_HOME=${PREFIX}/cache
                        "${PREFIX}/bin/tabulon-cli" tables "${jet}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "MSysObjects")
    message(FATAL_ERROR "installed tabulon-cli cannot read an Access file (${rc}):\n${out}\n${err}")
endif()
file(RENAME "${PREFIX}/libexec/tabulon/tabulon-jet-reader" "${PREFIX}/libexec/tabulon/moved-away")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=TABULON_JET_READER XDG_CACHE_HOME=${PREFIX}/cache
                        "${PREFIX}/bin/tabulon-cli" tables "${jet}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "tabulon-jet-reader was not found")
    message(FATAL_ERROR "installed tabulon-cli read an Access file without its reader helper (${rc}):\n${out}\n${err}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
