# Converts INPUT into WORK_FOLDER/OUTPUT_NAME with PROGRAM --engine and the output options OPTIONS (separated
# by "|"), then checks: exit status 0, "Done" on stdout, a progress line on stderr whose total matches
# EXPECT_TOTAL (a pattern of the time text), and, with the ffprobe tool FFPROBE, the streams EXPECT_CODECS
# (sorted "codec_name=..." entries; an h264 and an aac stream when not given) and a duration within 0.1 s of
# EXPECT_SECONDS.
file(REMOVE_RECURSE "${WORK_FOLDER}")
file(MAKE_DIRECTORY "${WORK_FOLDER}")
set(output_file "${WORK_FOLDER}/${OUTPUT_NAME}")
string(REPLACE "|" ";" options "${OPTIONS}")
execute_process(COMMAND "${PROGRAM}" --engine "${INPUT}" "${output_file}" ${options}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
set(report "options: ${options}\nstatus: ${status}\nstdout:\n${output}\nstderr:\n${errors}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the conversion failed\n${report}")
endif()
if(NOT output MATCHES "(^|\n)Done\n")
  message(FATAL_ERROR "the conversion does not say \"Done\"\n${report}")
endif()
# stderr is no terminal here: one line per report, the last one the task's final report.
set(time_text "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9]")
# Without a picture the line has no frame count.
if(NOT errors MATCHES "${time_text} / ${EXPECT_TOTAL} [0-9]+%  (frame=[0-9]+ fps=[0-9]+  )?size=[0-9]+ kB\n")
  message(FATAL_ERROR "no progress line against a total of ${EXPECT_TOTAL} on stderr\n${report}")
endif()

execute_process(COMMAND "${FFPROBE}" -v error -show_entries stream=codec_name:format=duration
                        -of default=noprint_wrappers=1 "${output_file}"
                RESULT_VARIABLE probe_status OUTPUT_VARIABLE probed ERROR_VARIABLE probe_errors)
set(report "${report}\nffprobe (${probe_status}):\n${probed}${probe_errors}")
if(NOT probe_status EQUAL 0)
  message(FATAL_ERROR "ffprobe cannot read the output\n${report}")
endif()
string(REGEX MATCHALL "codec_name=[a-z0-9_]+" codecs "${probed}")
list(SORT codecs)
if(NOT DEFINED EXPECT_CODECS)
  set(EXPECT_CODECS "codec_name=aac;codec_name=h264")
endif()
if(NOT codecs STREQUAL EXPECT_CODECS)
  message(FATAL_ERROR "the output does not hold exactly the streams ${EXPECT_CODECS}\n${report}")
endif()
if(NOT probed MATCHES "duration=([0-9.]+)")
  message(FATAL_ERROR "ffprobe shows no duration\n${report}")
endif()
set(duration "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^([0-9]+)\\.([0-9][0-9][0-9]).*$" "\\1\\2" duration_ms "${duration}000")
math(EXPR expected_ms "${EXPECT_SECONDS} * 1000")
math(EXPR difference "${duration_ms} - ${expected_ms}")
if(difference LESS -100 OR difference GREATER 100)
  message(FATAL_ERROR "the output lasts ${duration} s, not ${EXPECT_SECONDS} s (±0.1 s)\n${report}")
endif()
