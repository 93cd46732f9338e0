# Cross build for the cameras (64-bit ARM): Debian's cross compiler, GLib from the arm64
# multiarch packages.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Only the arm64 .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Test binaries run under user-mode emulation against the arm64 multiarch C and C++ runtime
# (libc6:arm64, libstdc++6:arm64). No "-L /usr/aarch64-linux-gnu": that loads the cross
# toolchain's dynamic loader next to the multiarch libc that GLib pulls in, and the two glibc
# builds together hang in fork().
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
