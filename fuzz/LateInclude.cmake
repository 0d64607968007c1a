# Given to the configure step as CMAKE_PROJECT_twitter-ostra_INCLUDE by scripts/fuzz.sh,
# so that the fuzz targets are there whether or not the top-level CMakeLists.txt adds
# this folder: reads it once the top-level folder has defined every other target
# (a deferred call may not add a folder, but may include its list file).
set(TWITTEROSTRA_FUZZ_LIST ${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt)
function(twitterostra_fuzz_late_include)
    if(NOT TARGET twitterostra-fuzzsupport)
        include(${TWITTEROSTRA_FUZZ_LIST})
    endif()
endfunction()
cmake_language(DEFER CALL twitterostra_fuzz_late_include)
