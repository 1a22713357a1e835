# cmake -D BUILD_DIR=<build> -D PREFIX=<empty folder> -D JET_FILE=<an Access file>
#       -D LIBDIR=<lib dir under the prefix> -D CXX=<compiler> -D SANITIZE_FLAGS=<flags the build used>
#       -P InstallTest.cmake
# Installs the build into PREFIX and checks what a packager and a desktop expect to find there.

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}\n${err}")
endif()

foreach(f bin/tabulon bin/tabulon-cli libexec/tabulon/tabulon-jet-reader share/applications/tabulon.desktop ${LIBDIR}/libvelloform.so
          ${LIBDIR}/libvelloform.so.1 include/velloform.h ${LIBDIR}/pkgconfig/velloform.pc
          share/doc/tabulon/LICENSE share/doc/tabulon/NOTICE share/man/man1/tabulon.1
          share/man/man1/tabulon-cli.1 share/metainfo/org.tabulon.Tabulon.metainfo.xml
          share/mime/packages/tabulon.xml)
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
# --version and --help print and end without a display.
set(platform "$ENV{QT_QPA_PLATFORM}")
unset(ENV{QT_QPA_PLATFORM})
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
execute_process(COMMAND "${PREFIX}/bin/tabulon" --version
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "1\\.0")
    message(FATAL_ERROR "installed tabulon --version failed (${rc}):\n${out}\n${err}")
endif()
execute_process(COMMAND "${PREFIX}/bin/tabulon" --help
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "FILE")
    message(FATAL_ERROR "installed tabulon --help failed (${rc}):\n${out}\n${err}")
endif()
execute_process(COMMAND "${PREFIX}/bin/tabulon-cli" --version
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "tabulon-cli 1.0\n")
    message(FATAL_ERROR "installed tabulon-cli --version failed (${rc}):\n${out}\n${err}")
endif()
set(ENV{QT_QPA_PLATFORM} "${platform}")

# The man pages are the programs' own --help.
foreach(prog tabulon-cli tabulon)
    file(READ "${PREFIX}/share/man/man1/${prog}.1" page)
    if(NOT page MATCHES "^\\.TH ")
        message(FATAL_ERROR "${prog}.1 is not a man page")
    endif()
endforeach()
file(READ "${PREFIX}/share/man/man1/tabulon-cli.1" page)
foreach(text "tabulon-cli query FILE SQL" "Exit status" "--sqlite")
    string(FIND "${page}" "${text}" at)
    if(at LESS 0)
        message(FATAL_ERROR "tabulon-cli.1 lacks \"${text}\" of --help")
    endif()
endforeach()

# AppStream metadata, valid where the validator is installed.
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
    execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net
                            "${PREFIX}/share/metainfo/org.tabulon.Tabulon.metainfo.xml"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "appstreamcli validate failed (${rc}):\n${out}\n${err}")
    endif()
else()
    message(STATUS "appstreamcli not installed: the metainfo file is not validated")
endif()

# .accdb files are application/x-msaccess by name.
file(READ "${PREFIX}/share/mime/packages/tabulon.xml" mime)
string(FIND "${mime}" "<mime-type type=\"application/x-msaccess\">" type_at)
string(FIND "${mime}" "<glob pattern=\"*.accdb\"/>" glob_at)
if(type_at LESS 0 OR glob_at LESS type_at)
    message(FATAL_ERROR "tabulon.xml gives no *.accdb glob for application/x-msaccess:\n${mime}")
endif()
find_program(UPDATE_MIME update-mime-database)
if(UPDATE_MIME)
    execute_process(COMMAND "${UPDATE_MIME}" "${PREFIX}/share/mime" RESULT_VARIABLE rc ERROR_VARIABLE err)
    file(STRINGS "${PREFIX}/share/mime/globs2" globs REGEX "application/x-msaccess:\\*\\.accdb")
    if(NOT rc EQUAL 0 OR NOT globs)
        message(FATAL_ERROR "update-mime-database gives no *.accdb glob (${rc}): ${err}")
    endif()
endif()

# The library carries its version in its name.
find_program(READELF readelf)
if(READELF)
    execute_process(COMMAND "${READELF}" -d "${PREFIX}/${LIBDIR}/libvelloform.so" OUTPUT_VARIABLE dyn)
    if(NOT dyn MATCHES "SONAME\\)[^\n]*\\[libvelloform\\.so\\.1\\]")
        message(FATAL_ERROR "libvelloform.so has no SONAME libvelloform.so.1:\n${dyn}")
    endif()
endif()

# pkg-config finds the installed prefix from where velloform.pc lies (the tree was installed into a
# folder that is not the configured prefix), and a small host compiles with what it gives and
# loads the library by its versioned name.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")
execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs velloform
                RESULT_VARIABLE rc OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT flags MATCHES "-I${PREFIX}/lib[^ ]*/include|-I${PREFIX}/include")
    message(FATAL_ERROR "pkg-config --cflags --libs velloform (${rc}): ${flags}\n${err}")
endif()
file(WRITE "${PREFIX}/host.cpp" [=[
#include <dlfcn.h>
#include <QWidget>
#include <cstdio>
#include "velloform.h"
int main(int argc, char** argv) {
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) { std::printf("%s\n", dlerror()); return 1; }
    auto get = (int (*)(const char*, VelloformClassFactory*))dlsym(lib, "DllGetClassObject");
    VelloformClassFactory factory{};
    return get && get(VELLOFORM_CLASS_NAME, &factory) == VELLOFORM_OK && factory.CreateInstance ? 0 : 2;
}
]=])
separate_arguments(flag_list UNIX_COMMAND "${flags} ${SANITIZE_FLAGS}")
execute_process(COMMAND "${CXX}" -std=c++17 -fPIC "${PREFIX}/host.cpp" -o "${PREFIX}/host" ${flag_list}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "a host does not compile with pkg-config's flags (${rc}):\n${out}\n${err}")
endif()
execute_process(COMMAND "${PREFIX}/host" "${PREFIX}/${LIBDIR}/libvelloform.so.1"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the host cannot load libvelloform.so.1 (${rc}):\n${out}\n${err}")
endif()


# The installed tabulon-cli reads Access files through the installed reader helper (libexec/tabulon):
# it works there, and says what is missing when the helper is not.
file(COPY "${JET_FILE}" DESTINATION "${PREFIX}/data")
get_filename_component(jet_name "${JET_FILE}" NAME)
set(jet "${PREFIX}/data/${jet_name}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=TABULON_JET_READER XDG_CACHE_HOME=${PREFIX}/cache
                        "${PREFIX}/bin/tabulon-cli" tables --all "${jet}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "MSysObjects")
    message(FATAL_ERROR "installed tabulon-cli cannot read an Access file (${rc}):\n${out}\n${err}")
endif()
file(RENAME "${PREFIX}/libexec/tabulon/tabulon-jet-reader" "${PREFIX}/libexec/tabulon/moved-away")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=TABULON_JET_READER XDG_CACHE_HOME=${PREFIX}/cache
                        "${PREFIX}/bin/tabulon-cli" tables --all "${jet}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "tabulon-jet-reader was not found")
    message(FATAL_ERROR "installed tabulon-cli read an Access file without its reader helper (${rc}):\n${out}\n${err}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
