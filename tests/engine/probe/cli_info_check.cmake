# Runs "vidmill-cli info" on a generated clip, a missing file and a file of
# junk: the clip's text on stdout, one line per failure on stderr naming the
# file, and a non-zero exit status.
file(MAKE_DIRECTORY ${WORK})
set(clip ${WORK}/clip.wav)
execute_process(COMMAND ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=1
                        -c:a pcm_s16le ${clip} RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "ffmpeg could not make ${clip}")
endif()
file(WRITE ${WORK}/junk.avi "this is not a video file")
execute_process(COMMAND ${CLI} info ${WORK}/missing.mp4 ${clip} ${WORK}/junk.avi
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(status EQUAL 0)
  message(FATAL_ERROR "exit status 0 although two files failed")
endif()
if(NOT out MATCHES "File Name: ${clip}\nFormat Name: wav\n.*Duration: 00:00:01.000\n.*Stream #0, 1/8000: Audio: pcm_s16le")
  message(FATAL_ERROR "unexpected information text:\n${out}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${err}")
list(LENGTH lines n)
if(NOT n EQUAL 2 OR NOT err MATCHES "missing.mp4: No such file or directory" OR NOT err MATCHES "junk.avi: Invalid data found when processing input")
  message(FATAL_ERROR "unexpected errors:\n${err}")
endif()

# A log level that is neither a name nor a number is a usage error, said so.
execute_process(COMMAND ${CLI} info --loglevel loud ${clip}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT err MATCHES "^vidmill-cli info: unknown log level \"loud\"\nUsage: vidmill-cli info ")
  message(FATAL_ERROR "a bad log level gave status ${status} and:\n${err}")
endif()
