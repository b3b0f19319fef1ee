# Makes the small media files the demux and vob fuzz targets start from.
# cmake -DFFMPEG=<ffmpeg> -DOUT=<seed folder> -P MakeMediaSeeds.cmake
cmake_minimum_required(VERSION 3.25)

set(demux ${OUT}/demux)
set(vob ${OUT}/vob)
set(work ${OUT}/work)
file(MAKE_DIRECTORY ${demux} ${vob} ${work})

function(ffmpeg output)
    execute_process(COMMAND ${FFMPEG} -nostdin -v error -y ${ARGN} ${output}
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "ffmpeg could not make ${output}")
    endif()
endfunction()

set(video -f lavfi -i testsrc2=size=64x48:rate=10:duration=0.6)
set(audio -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.6)
file(WRITE ${work}/subtitles.srt "1\n00:00:00,000 --> 00:00:00,500\nHello\n")

ffmpeg(${demux}/clip.mp4 ${video} ${audio} -c:v libx264 -preset ultrafast -g 3 -c:a aac -b:a 16k
    -metadata:s:v:0 rotate=90)
ffmpeg(${demux}/clip.mkv ${video} ${audio} -i ${work}/subtitles.srt -map 0 -map 1 -map 2
    -c:v mpeg4 -q:v 20 -c:a libvorbis -c:s subrip)
ffmpeg(${demux}/clip.asf ${video} ${audio} -c:v wmv2 -q:v 20 -c:a wmav2 -b:a 32k)
ffmpeg(${demux}/cover.wma ${audio} -f lavfi -i testsrc2=size=32x32:rate=1:duration=1 -map 0:a -map 1:v
    -c:a wmav2 -b:a 32k -c:v mjpeg -frames:v 1)
ffmpeg(${demux}/clip.ts ${video} ${audio} -c:v mpeg2video -q:v 20 -c:a mp2 -b:a 32k)

# A VOB whose timestamps start over in the middle, as joined DVD cells do: two program streams back to
# back. Beside it one plain VOB and one with sound only.
ffmpeg(${work}/first.vob ${video} ${audio} -c:v mpeg2video -q:v 20 -c:a mp2 -b:a 32k -f vob)
ffmpeg(${work}/second.vob -f lavfi -i testsrc=size=64x48:rate=10:duration=0.4 ${audio} -shortest
    -c:v mpeg2video -q:v 20 -c:a mp2 -b:a 32k -f vob)
ffmpeg(${vob}/sound.vob ${audio} -c:a ac3 -b:a 64k -f vob)
file(COPY_FILE ${work}/first.vob ${vob}/single.vob)
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${work}/first.vob ${work}/second.vob
    OUTPUT_FILE ${vob}/joined.vob RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "could not join the VOB seeds")
endif()
file(REMOVE_RECURSE ${work})
