# Builds the seed corpora in OUT_DIR/TARGET: the smaller files of the shared
# case library and RAW collection (read in place), the revision and tie
# fixtures of the solver's tests, the example's JSON files and the hand-written
# inputs of HAND_DIR/TARGET. Run by the fuzz_seeds target:
#   cmake -DSHARED_DIR=... -DHAND_DIR=... -DOUT_DIR=... -P seeds.cmake
# Big files make every mutation slow, so only files up to max_size are taken.
set(max_size 20000)

file(REMOVE_RECURSE "${OUT_DIR}")

# Copies the files matching `pattern` (relative to `base`) into OUT_DIR/target,
# named after their path with / turned into _.
function(add_seeds target base pattern)
  file(GLOB_RECURSE _files RELATIVE "${base}" "${base}/${pattern}")
  foreach(_rel ${_files})
    file(SIZE "${base}/${_rel}" _size)
    if(_size GREATER max_size)
      continue()
    endif()
    string(REPLACE "/" "_" _name "${_rel}")
    file(MAKE_DIRECTORY "${OUT_DIR}/${target}")
    configure_file("${base}/${_rel}" "${OUT_DIR}/${target}/${_name}" COPYONLY NO_SOURCE_PERMISSIONS)
  endforeach()
endfunction()

if(IS_DIRECTORY "${SHARED_DIR}/data/cases")
  add_seeds(raw "${SHARED_DIR}/data/cases" "*.raw")
  add_seeds(ctg "${SHARED_DIR}/data/cases" "*.con")
  add_seeds(results "${SHARED_DIR}/data/cases" "*/reference/*.csv")
else()
  message(WARNING "no case library at ${SHARED_DIR}/data/cases (CTGBATCH_SHARED_DIR); hand-written seeds only")
endif()
# RAW files of other tools' test suites, every revision from 23 to 35.
if(IS_DIRECTORY "${SHARED_DIR}/data/rawfiles")
  add_seeds(raw "${SHARED_DIR}/data/rawfiles" "*.raw")
else()
  message(WARNING "no RAW file collection at ${SHARED_DIR}/data/rawfiles (CTGBATCH_SHARED_DIR)")
endif()
# The same networks hand-converted between revisions, and split by ties.
add_seeds(raw "${HAND_DIR}/../../solver/tests/data/revisions" "*.raw")
add_seeds(raw "${HAND_DIR}/../../solver/tests/data/ties" "*.raw")
if(IS_DIRECTORY "${SHARED_DIR}/data/real")
  add_seeds(ctg "${SHARED_DIR}/data/real" "*.con")
endif()
add_seeds(options "${HAND_DIR}/../../example" "*.json")
foreach(_target raw ctg monitor options results)
  add_seeds(${_target} "${HAND_DIR}/${_target}" "*")
endforeach()
