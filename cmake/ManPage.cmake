# cmake -D PROGRAM=<path> -D NAME=<name> -D SUMMARY=<one line> -D OUT=<file.1> -P ManPage.cmake
# A man page made from the program's own --help and --version, so that the two never disagree.
execute_process(COMMAND "${PROGRAM}" --help RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed (${rc}): ${err}")
endif()
execute_process(COMMAND "${PROGRAM}" --version RESULT_VARIABLE rc OUTPUT_VARIABLE version ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --version failed (${rc}): ${err}")
endif()
string(STRIP "${version}" version)
# The usage line names the program as it was started.
string(REPLACE "${PROGRAM}" "${NAME}" help "${help}")

# roff: a backslash is \e; a line may not start with a dot or an apostrophe.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TOUPPER "${NAME}" title)
file(WRITE "${OUT}.tmp"
".TH ${title} 1 \"\" \"${version}\" \"User Commands\"\n"
".SH NAME\n"
"${NAME} \\- ${SUMMARY}\n"
".SH DESCRIPTION\n"
".nf\n"
"${help}"
".fi\n"
".SH SEE ALSO\n"
"${SEE_ALSO}\n")
file(RENAME "${OUT}.tmp" "${OUT}")
