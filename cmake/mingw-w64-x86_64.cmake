# Cross build for 64-bit Windows: clang and lld 16 for the MinGW-w64 target,
# over the MinGW-w64 headers and the POSIX-threads cross GCC's libstdc++,
# libgcc and winpthread. clang writes CodeView debug information and lld
# turns it into a PDB beside each shipped binary, which Windows debuggers
# read (they cannot read GCC's DWARF).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(MIRROW_LLVM_BIN /usr/lib/llvm-16/bin)
# Called from its own folder, clang finds the ld.lld of the same release.
set(CMAKE_C_COMPILER ${MIRROW_LLVM_BIN}/clang)
set(CMAKE_CXX_COMPILER ${MIRROW_LLVM_BIN}/clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${MIRROW_LLVM_BIN}/llvm-windres)
set(CMAKE_RC_FLAGS_INIT "--target=${MINGW_TRIPLE}")
set(CMAKE_AR ${MIRROW_LLVM_BIN}/llvm-ar)
set(CMAKE_RANLIB ${MIRROW_LLVM_BIN}/llvm-ranlib)
set(CMAKE_OBJDUMP ${MINGW_TRIPLE}-objdump)
set(CMAKE_OBJCOPY ${MINGW_TRIPLE}-objcopy)
set(CMAKE_STRIP ${MINGW_TRIPLE}-strip)
set(MIRROW_PDBUTIL ${MIRROW_LLVM_BIN}/llvm-pdbutil)
set(MIRROW_READOBJ ${MIRROW_LLVM_BIN}/llvm-readobj)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The cross GCC's folder (Debian names it 12-posix, a version clang does
# not recognise, so clang is shown the headers and libraries by hand).
execute_process(COMMAND ${MINGW_TRIPLE}-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE mirrow_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(MIRROW_GCC_DIR "${mirrow_libgcc}" DIRECTORY)
set(mirrow_cxx_headers ${MIRROW_GCC_DIR}/include/c++)

# libstdc++ keeps its thread-local data (that of std::call_once, which
# <future> uses inline) in GCC's emulated form, so clang must emulate too to
# meet it. clang 16 cannot describe an emulated thread_local variable in
# CodeView: the link fails with the variable's name as an undefined symbol.
# So the code keeps per-thread data in tables keyed by thread id (as
# common/thread_texts.h does), never in thread_local variables.
set(CMAKE_C_FLAGS_INIT "-gcodeview -femulated-tls")
set(CMAKE_CXX_FLAGS_INIT
    "-gcodeview -femulated-tls -nostdinc++ -isystem ${mirrow_cxx_headers} -isystem ${mirrow_cxx_headers}/${MINGW_TRIPLE} -isystem ${mirrow_cxx_headers}/backward")
# libgcc, libstdc++ and winpthread go into every binary, so the products
# import nothing but system DLLs. The link line repeats the compile flags,
# of which the header and debug-format ones mean nothing to a link.
set(mirrow_link_flags "-fuse-ld=lld -static -pthread -L${MIRROW_GCC_DIR} -Wno-unused-command-line-argument")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${mirrow_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${mirrow_link_flags}")
