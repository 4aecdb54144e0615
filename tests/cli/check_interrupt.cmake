# Ctrl-C during a conversion: runs PROGRAM --engine on INPUT read at its own pace (re=1, so that 3 s of media
# take 3 s). Once the first progress line is out, it sends SIGINT twice, the way one key press may reach the
# program both from the terminal and from a wrapper (the second may find the program gone already).
# Expects the conversion to stop cleanly: "Abort" on stdout and exit status 1.
file(REMOVE_RECURSE "${WORK_FOLDER}")
file(MAKE_DIRECTORY "${WORK_FOLDER}")
set(errors_file "${WORK_FOLDER}/stderr.txt")
set(script [=[
"$0" --engine --input-option re=1 "$1" "$2" vcodec=copy acodec=copy 2>"$3" &
program=$!
waited=0
until grep -q "frame=" "$3" || [ $waited -ge 200 ]; do
  sleep 0.05
  waited=$((waited + 1))
done
kill -INT $program
kill -INT $program 2>/dev/null
wait $program
]=])
execute_process(COMMAND sh -c "${script}" "${PROGRAM}" "${INPUT}" "${WORK_FOLDER}/stopped.mkv" "${errors_file}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output)
file(READ "${errors_file}" errors)
set(report "status: ${status}\nstdout:\n${output}\nstderr:\n${errors}")
if(NOT errors MATCHES "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9] / [0-9:.]+ [0-9]+%  frame=")
  message(FATAL_ERROR "no progress line within 10 s\n${report}")
endif()
if(output MATCHES "Done")
  message(FATAL_ERROR "the conversion ended before it could be stopped (is re=1 read at the media's pace?)\n"
                      "${report}")
endif()
if(NOT status EQUAL 1 OR NOT output STREQUAL "Abort\n")
  message(FATAL_ERROR "a stopped conversion must say \"Abort\" and exit with status 1\n${report}")
endif()
