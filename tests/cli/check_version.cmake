# Runs PROGRAM --version: exit status 0, "tarvello-convert <version>" first, then a line of the bound library
# versions that begins with avcodec's.
execute_process(COMMAND "${PROGRAM}" --version
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
set(report "status: ${status}\nstdout:\n${output}\nstderr:\n${errors}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "--version failed\n${report}")
endif()
if(NOT output MATCHES "^tarvello-convert [0-9]+\\.[0-9]+")
  message(FATAL_ERROR "--version does not begin with the program's name and version\n${report}")
endif()
if(NOT output MATCHES "\navcodec 59\\.[0-9]+\\.[0-9]+")
  message(FATAL_ERROR "--version does not list the bound avcodec 59.x.y on a line of its own\n${report}")
endif()
