# Regenerates the bundled example and compares it with the committed files.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${GENERATOR} ${WORK} RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "umbrascope-make-example failed: ${status}")
endif()
foreach(name cloud_bus_coords_connections.txt cloud_sun_intensity_table.txt cloud_centers_plot.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${name} ${SOURCE}/examples/ieee13/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "examples/ieee13/${name} is not what umbrascope-make-example writes; run it on examples/ieee13")
  endif()
endforeach()
