# Copies PROGRAM into WORK_FOLDER beside a libavcodec.so.59 that is no shared library, runs --version there and
# expects exit status 1 (the README's status when the libraries cannot be bound) with a message that names
# that file.
file(REMOVE_RECURSE "${WORK_FOLDER}")
file(MAKE_DIRECTORY "${WORK_FOLDER}")
file(COPY "${PROGRAM}" DESTINATION "${WORK_FOLDER}")
file(WRITE "${WORK_FOLDER}/libavcodec.so.59" "this is not a shared library\n")
get_filename_component(program_name "${PROGRAM}" NAME)
# The program finds its folder through /proc/self/exe, which names it without symbolic links.
file(REAL_PATH "${WORK_FOLDER}/libavcodec.so.59" broken_library)

execute_process(COMMAND "${WORK_FOLDER}/${program_name}" --version
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
set(report "status: ${status}\nstdout:\n${output}\nstderr:\n${errors}")
if(NOT status MATCHES "^[0-9]+$")
  message(FATAL_ERROR "the program did not exit normally\n${report}")
elseif(status EQUAL 0)
  message(FATAL_ERROR "the program ran with a broken library beside it\n${report}")
elseif(NOT status EQUAL 1)
  message(FATAL_ERROR "the program exited with ${status}, not 1\n${report}")
endif()
string(FIND "${output}${errors}" "${broken_library}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "the message does not name ${broken_library}\n${report}")
endif()
file(REMOVE_RECURSE "${WORK_FOLDER}")
