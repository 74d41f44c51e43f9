# The sanitizer build and the fuzz targets.
#
# MAILSIEVE_SANITIZE builds every target with AddressSanitizer and
# UndefinedBehaviorSanitizer; the first finding ends the program with an
# error, so a test or fuzz run that meets one fails. MAILSIEVE_FUZZ adds the
# libFuzzer targets of tests/fuzz and turns MAILSIEVE_SANITIZE on: a fuzzer
# without them misses most memory faults. One build folder then serves the
# unit tests and the fuzzers. Both need clang.

option(MAILSIEVE_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer (clang)" OFF)
option(MAILSIEVE_FUZZ "Build the libFuzzer targets of tests/fuzz, with the sanitizers (clang)" OFF)
set(MAILSIEVE_FUZZ_SECONDS 30 CACHE STRING "How long ctest runs each fuzz target")

if(MAILSIEVE_FUZZ AND NOT MAILSIEVE_SANITIZE)
  message(STATUS "MAILSIEVE_FUZZ turns MAILSIEVE_SANITIZE on")
  set(MAILSIEVE_SANITIZE ON CACHE BOOL "" FORCE)
endif()

if(MAILSIEVE_SANITIZE AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "MAILSIEVE_SANITIZE and MAILSIEVE_FUZZ need clang: "
                      "configure a new build folder with -DCMAKE_CXX_COMPILER=clang++")
endif()

if(MAILSIEVE_SANITIZE)
  # -O1 after the build type's own level: fast enough to run, still readable stacks.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -O1 -g -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)

  # One suppressions file, for system libraries only. Each sanitizer stops
  # at a kind it does not know, so each gets the lines of its own kinds in a
  # file of its own: "leak" for LeakSanitizer, AddressSanitizer's interceptor
  # and ODR kinds, and UndefinedBehaviorSanitizer's check names.
  set(suppressions ${PROJECT_SOURCE_DIR}/tests/sanitizers/suppressions.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${suppressions})
  file(STRINGS ${suppressions} suppression_lines REGEX "^[a-z_-]+:")
  foreach(tool lsan asan ubsan)
    set(${tool}_lines "")
  endforeach()
  foreach(line IN LISTS suppression_lines)
    if(line MATCHES "^leak:")
      string(APPEND lsan_lines "${line}\n")
    elseif(line MATCHES "^(interceptor_name|interceptor_via_fun|interceptor_via_lib|odr_violation):")
      string(APPEND asan_lines "${line}\n")
    else()
      string(APPEND ubsan_lines "${line}\n")
    endif()
  endforeach()
  foreach(tool lsan asan ubsan)
    file(WRITE ${PROJECT_BINARY_DIR}/sanitizers/${tool}.supp "${${tool}_lines}")
  endforeach()

  # The environment of every test and fuzz run in this build. The quarantine
  # of freed memory is cut from 256 to 64 MB: it counts as the program's own
  # memory in the tests that bound a check's peak, and still holds many
  # checks' worth of freed blocks for catching a use after free.
  set(MAILSIEVE_SANITIZER_ENVIRONMENT
    "ASAN_OPTIONS=suppressions=${PROJECT_BINARY_DIR}/sanitizers/asan.supp:detect_leaks=1:check_initialization_order=1:quarantine_size_mb=64"
    "LSAN_OPTIONS=suppressions=${PROJECT_BINARY_DIR}/sanitizers/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=suppressions=${PROJECT_BINARY_DIR}/sanitizers/ubsan.supp:print_stacktrace=1:halt_on_error=1")
endif()

# Coverage feedback for the fuzzers, in the libraries they drive.
function(mailsieve_instrument_for_fuzzing)
  if(MAILSIEVE_FUZZ)
    foreach(target IN LISTS ARGN)
      target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endforeach()
  endif()
endfunction()
