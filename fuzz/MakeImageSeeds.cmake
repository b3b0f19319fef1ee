# Makes small images of the kinds ffmpeg writes, for the readers fuzz target (make_image_seeds adds the
# variants ffmpeg cannot write: CMYK and Lab TIFF, RLE BMP, progressive, arithmetic and CMYK JPEG).
# cmake -DFFMPEG=<ffmpeg> -DOUT=<seed folder> -P MakeImageSeeds.cmake
cmake_minimum_required(VERSION 3.25)

set(readers ${OUT}/readers)
file(MAKE_DIRECTORY ${readers})

# One still image of 13x7 pixels (odd sizes reach the padding and partial-block paths) as `name`.
function(still name format)
    execute_process(COMMAND ${FFMPEG} -nostdin -v error -y -f lavfi -i testsrc2=size=13x7:rate=1
        -frames:v 1 -pix_fmt ${format} ${ARGN} ${readers}/${name} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "ffmpeg could not make ${name}")
    endif()
endfunction()

still(rgb.png rgb24)
still(rgba.png rgba)
still(gray.png gray)
still(gray16.png gray16be)
still(graya.png ya8)
still(rgb48.png rgb48be)
still(palette.png pal8)
still(rgb.bmp bgr24)
still(bgra.bmp bgra)
still(rgb555.bmp rgb555le)
still(palette.bmp pal8)
still(mono.bmp monob)
still(gray.pgm gray)
still(gray16.pgm gray16be)
still(rgb.ppm rgb24)
still(rgb48.ppm rgb48be)
still(still.gif pal8)
still(rgb.tif rgb24 -compression_algo packbits)
still(rgba.tif rgba -compression_algo deflate)
still(gray.tif gray -compression_algo lzw)
still(rgb48.tif rgb48le)
still(palette.tif pal8)
still(rgba64.tif rgba64le)
still(graya16.tif ya16le)
still(ycbcr.tif yuv420p)
still(mono.tif monob)
still(yuv420.jpg yuvj420p -q:v 5)
still(yuv444.jpg yuvj444p -q:v 5)
still(gray.jpg gray -q:v 5)
still(lossy.webp yuv420p -c:v libwebp -quality 50)
still(lossy-alpha.webp yuva420p -c:v libwebp -quality 50)
still(lossless.webp bgra -c:v libwebp -lossless 1)

# Animations: three frames each.
foreach(name animated.gif animated.webp)
    execute_process(COMMAND ${FFMPEG} -nostdin -v error -y -f lavfi -i testsrc2=size=13x7:rate=10
        -frames:v 3 -loop 0 ${readers}/${name} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "ffmpeg could not make ${name}")
    endif()
endforeach()
