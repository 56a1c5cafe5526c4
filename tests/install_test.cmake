# The installed package as a packager and an outside project see it:
# `cmake --install` into a scratch prefix puts every file in its place, the
# installed program runs, and a small project (tests/install_consumer) finds
# Morphalite, links Morphalite::core and converts the sample to the same bytes
# as the program does.
# Run by ctest as `cmake -D...=... -P install_test.cmake` (see CMakeLists.txt).
# Prints "SKIPPED: reason" when no compiler is there to build the project.
cmake_minimum_required(VERSION 3.20)

if(NOT EXISTS "${CXX}")
  message("SKIPPED: no C++ compiler at '${CXX}' to build an outside project")
  return()
endif()

set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# run(what COMMAND...): runs a step, stops the test with its output on failure;
# leaves the standard output in `out`.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE stdout
                  ERROR_VARIABLE stderr)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${stdout}\n${stderr}")
  endif()
  set(out "${stdout}" PARENT_SCOPE)
endfunction()

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Every file a packager expects, by its place under the prefix.
set(expected
  ${BINDIR}/morphalite
  ${MANDIR}/man1/morphalite.1
  ${DOCDIR}/readme.htm
  ${DOCDIR}/help/index.html
  ${LIBDIR}/libmorphalite.a
  ${LIBDIR}/libmorphalite_engine.a
  ${LIBDIR}/libmorphalite_cli.a
  ${INCLUDEDIR}/morphalite/morphalite.h
  ${LIBDIR}/cmake/Morphalite/MorphaliteConfig.cmake
  ${LIBDIR}/cmake/Morphalite/MorphaliteConfigVersion.cmake
  ${LIBDIR}/cmake/Morphalite/MorphaliteTargets.cmake)
if(HAVE_WINDOW)
  list(APPEND expected ${DATADIR}/applications/morphalite.desktop
                       ${DATADIR}/icons/hicolor/scalable/apps/morphalite.svg)
endif()
foreach(file ${expected})
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
list(LENGTH expected count)
message("installed: all ${count} expected files")
# One header is public; the internal ones stay in the source tree.
file(GLOB_RECURSE headers RELATIVE ${prefix}/${INCLUDEDIR} ${prefix}/${INCLUDEDIR}/*)
if(NOT headers STREQUAL "morphalite/morphalite.h")
  message(FATAL_ERROR "installed headers: ${headers}")
endif()

run("installed morphalite --version" ${prefix}/${BINDIR}/morphalite --version)
if(NOT out MATCHES "^Morphalite ${VERSION}\n$")
  message(FATAL_ERROR "installed morphalite --version printed '${out}'")
endif()

# The outside project, against the prefix only.
run("configuring the outside project" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install_consumer
    -B ${consumer} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run("building the outside project" ${CMAKE_COMMAND} --build ${consumer})

# The package refuses what it cannot give: another major version, an unknown component.
foreach(request "4" "3 COMPONENTS Development Plugins")
  set(project ${WORK_DIR}/refused)
  file(WRITE ${project}/CMakeLists.txt "cmake_minimum_required(VERSION 3.20)\n"
       "project(refused LANGUAGES CXX)\nfind_package(Morphalite ${request} REQUIRED)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${project} -B ${project}/build -G ${GENERATOR}
                  -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix}
                  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(status EQUAL 0)
    message(FATAL_ERROR "find_package(Morphalite ${request} REQUIRED) was accepted")
  endif()
  file(REMOVE_RECURSE ${project})
endforeach()

set(sample ${SOURCE_DIR}/samples/sample.pcap)
run("the outside project converting the sample" ${consumer}/convert_one ${sample}
    ${WORK_DIR}/library.pcap)
if(NOT out MATCHES "^([1-9][0-9]*) frames\n$")
  message(FATAL_ERROR "convert_one printed '${out}'")
endif()
set(frames ${CMAKE_MATCH_1})
run("installed morphalite converting the sample" ${prefix}/${BINDIR}/morphalite convert ${sample}
    --to TD -o ${WORK_DIR}/program.pcap --quiet)
file(SHA256 ${WORK_DIR}/library.pcap library_hash)
file(SHA256 ${WORK_DIR}/program.pcap program_hash)
if(NOT library_hash STREQUAL program_hash)
  message(FATAL_ERROR "the library and the program wrote different files from the sample")
endif()
message("outside project converted ${frames} frames, the same bytes as the program")
file(REMOVE_RECURSE ${WORK_DIR})
