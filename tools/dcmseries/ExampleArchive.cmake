# The example study's archive, Resources/example.zip, against the series generator.
#
#   cmake -DGENERATOR=<qv_make_series> -DARCHIVE=<example.zip> -DWORK=<scratch folder> -DMODE=write|check
#         -P ExampleArchive.cmake
#
# write: generates the study and writes ARCHIVE (the same bytes on every run).
# check: generates the study and compares the archive it makes with ARCHIVE, so that an archive
# left behind a changed generator does not go unnoticed.
foreach(v GENERATOR ARCHIVE WORK MODE)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "ExampleArchive.cmake needs -D${v}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${GENERATOR} ${WORK}/study --example=${WORK}/example.zip RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the generator failed: ${failed}")
endif()
if(MODE STREQUAL "write")
  file(COPY_FILE ${WORK}/example.zip ${ARCHIVE})
  file(SIZE ${ARCHIVE} size)
  message(STATUS "${ARCHIVE}: ${size} bytes")
elseif(MODE STREQUAL "check")
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/example.zip ${ARCHIVE} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${ARCHIVE} is not what the generator makes: rebuild it with the qv_example_archive "
                        "target and commit it")
  endif()
else()
  message(FATAL_ERROR "MODE is write or check")
endif()
file(REMOVE_RECURSE ${WORK})
