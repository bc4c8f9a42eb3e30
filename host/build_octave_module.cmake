# Runs mkoctfile for the Octave module, keeping the commands it ran in LOG.
# Called by the build with MKOCTFILE, CXXFLAGS, HOST_INCLUDE, CORE_INCLUDE,
# SOURCE, CORE, OUTPUT and LOG.
set(ENV{CXXFLAGS} "${CXXFLAGS}")
execute_process(
  COMMAND ${MKOCTFILE} --mex --verbose -DQUELMOR_HOST_OCTAVE=1 -I${HOST_INCLUDE} -I${CORE_INCLUDE} ${SOURCE} ${CORE}
          -o ${OUTPUT}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
file(WRITE ${LOG} "${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "mkoctfile failed:\n${output}")
endif()
