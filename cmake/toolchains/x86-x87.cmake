# 32-bit x86 with x87 floating point (g++-multilib), where intermediate results are wider than
# double: the float conversions must round as on every other processor.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-m32 -mfpmath=387 -mno-sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
