# Makes the media of the --engine tests in FOLDER with the ffmpeg tool FFMPEG: in.mp4, 3 s of 320x240 H.264 at
# 25 frames per second (a key frame every 5 frames, so cuts at whole seconds can copy the stream) with AAC
# sound; and not_media.mp4, text under a media file's name.
if(NOT EXISTS "${FFMPEG}")
  message(FATAL_ERROR "the ffmpeg tool is needed to make the media of the tests (scripts/install-packages.sh test)")
endif()
file(MAKE_DIRECTORY "${FOLDER}")
execute_process(COMMAND "${FFMPEG}" -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=3
                        -f lavfi -i sine=frequency=440:duration=3 -c:v libx264 -preset ultrafast
                        -g 5 -keyint_min 5 -sc_threshold 0 -c:a aac -shortest "${FOLDER}/in.mp4"
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ffmpeg could not make in.mp4: ${errors}")
endif()
file(WRITE "${FOLDER}/not_media.mp4" "these are no media, only text under a media file's name\n")
