file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# find_package
# The consumer's own include directory comes first and holds headers named
# like some of ours that stop the build: the package's headers must never
# reach them.
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake-consumer
    -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-consumer)
run(${WORK_DIR}/cmake-consumer/consumer)

# pkg-config
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs zubdm
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know zubdm")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ -std=c++17 -I${CONSUMER_DIR}/host ${CONSUMER_DIR}/consumer.cpp ${flags}
    -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/pc-consumer)
run(${WORK_DIR}/pc-consumer)

# Every installed header compiles on its own against the installed tree: none
# includes a header that is not installed.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*.h)
foreach(header IN LISTS headers)
  file(WRITE ${WORK_DIR}/headers/check.cpp "#include <${header}>\n")
  run(c++ -std=c++17 -fsyntax-only -I${CONSUMER_DIR}/host -I${prefix}/include
      ${WORK_DIR}/headers/check.cpp)
endforeach()

# The shared library carries SONAME 3 and exports nothing internal.
execute_process(COMMAND readelf -d ${prefix}/lib/libzubdm.so
  OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT dynamic MATCHES "SONAME[^\n]*libzubdm\\.so\\.3\\]")
  message(FATAL_ERROR "libzubdm.so does not carry SONAME libzubdm.so.3")
endif()
execute_process(COMMAND nm -D --defined-only -C ${prefix}/lib/libzubdm.so
  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR symbols MATCHES "zubdm::internal")
  message(FATAL_ERROR "libzubdm.so exports internal symbols")
endif()
