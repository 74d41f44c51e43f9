# Runs one fuzz target for SECONDS on a copy of its seed corpus CORPUS, so
# the corpus in the source tree stays as it is; inputs longer than MAX_LEN
# bytes are not tried. An input that makes the target fail is kept in
# FINDINGS for replaying: <fuzzer> <file>.
#
#   cmake -DFUZZER=... -DCORPUS=... -DSECONDS=30 -DMAX_LEN=4096 -DFINDINGS=... -P RunFuzzer.cmake

foreach(argument FUZZER CORPUS SECONDS MAX_LEN FINDINGS)
  if(NOT DEFINED ${argument})
    message(FATAL_ERROR "RunFuzzer.cmake needs -D${argument}=")
  endif()
endforeach()

get_filename_component(name ${FUZZER} NAME)
# The targets that save files sync every save to disk; in memory that costs
# nothing, and a target's own temporary files then run at its speed.
if(IS_DIRECTORY /dev/shm)
  set(temp /dev/shm)
elseif(DEFINED ENV{TMPDIR})
  set(temp "$ENV{TMPDIR}")
else()
  set(temp /tmp)
endif()
string(RANDOM LENGTH 10 suffix)
set(work ${temp}/${name}-${suffix})
file(MAKE_DIRECTORY ${work} ${FINDINGS})
file(COPY ${CORPUS}/ DESTINATION ${work}/corpus)

# TMPDIR: whatever the target writes is removed with the work folder, even
# after a crash. -rss_limit_mb leaves room for AddressSanitizer's own use;
# -timeout is per input.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TMPDIR=${work}
          ${FUZZER} -max_total_time=${SECONDS} -max_len=${MAX_LEN} -rss_limit_mb=2560 -timeout=25
          -print_final_stats=1 -artifact_prefix=${FINDINGS}/${name}- ${work}/corpus
  WORKING_DIRECTORY ${work}
  RESULT_VARIABLE result)
file(REMOVE_RECURSE ${work})

if(NOT result EQUAL 0)
  message(FATAL_ERROR "${name} failed (${result}); the input is in ${FINDINGS}")
endif()
