# The tool's worker pool on a batch: 48 frames (the samples and the photos
# in turn) decoded to PNG and BMP at both sizes, encoded back and checked
# with -j 4, every output equal to the -j 1 one. The ThreadSanitizer build
# runs it too (a race there fails the tool's run). Run with -DQUILL=...
# -DSOURCE=... -DWORK=...
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/frames)
file(GLOB samples ${SOURCE}/samples/*.yuv ${SOURCE}/samples/photos/*.yuv)
list(LENGTH samples count)
foreach(i RANGE 47)
  math(EXPR k "${i} % ${count}")
  list(GET samples ${k} sample)
  file(COPY_FILE ${sample} ${WORK}/frames/f${i}.yuv)
endforeach()
file(GLOB frames ${WORK}/frames/*.yuv)

function(run)
  execute_process(COMMAND ${QUILL} ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err
                  OUTPUT_VARIABLE out)
  # info exits 1 for the damaged samples; anything else is a failure.
  if(NOT rc EQUAL 0 AND NOT (rc EQUAL 1 AND ARGV0 STREQUAL "info"))
    message(FATAL_ERROR "quill ${ARGN}: exit ${rc}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

foreach(jobs 1 4)
  run(decode -q -d ${WORK}/j${jobs}/png ${frames} -j ${jobs})
  run(decode -q --format bmp --size 640x480 --sharpen -d ${WORK}/j${jobs}/bmp ${frames} -j ${jobs})
  file(GLOB pictures ${WORK}/j${jobs}/png/*.png)
  run(encode -q -d ${WORK}/j${jobs}/yuv ${pictures} -j ${jobs})
  run(info --json ${frames} -j ${jobs})
  file(WRITE ${WORK}/j${jobs}/info.json "${out}")
endforeach()

file(GLOB_RECURSE outputs RELATIVE ${WORK}/j1 ${WORK}/j1/*)
list(LENGTH outputs made)
if(made LESS 145)
  message(FATAL_ERROR "-j 1 made ${made} outputs, not 145")
endif()
foreach(output IN LISTS outputs)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/j1/${output}
                          ${WORK}/j4/${output} RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${output}: -j 4 gives other bytes than -j 1")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
