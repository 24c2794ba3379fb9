# What this machine can run of the Windows build; sourced by the build, the
# Wine environment, the tests, the main job and the benches.
#
# Wine's 32-bit half is an i386 Linux program. A kernel without 32-bit
# emulation (built so, booted with ia32_emulation=off, or a host that runs
# 64-bit user code only) refuses to start it, and then nothing built for
# 32-bit Windows can run here. On such a machine the same sources are also
# built for 64-bit Windows (build/win64) and run in a 64-bit prefix; the
# 32-bit programs that ship are still built (build/win), but not run.
ulmet_i386_runs() { (export LC_ALL=C; /lib/ld-linux.so.2 --version) >/dev/null 2>&1; }

# The name of the build tree whose Windows programs run here, and its
# toolchain.
ulmet_win_tree() { if ulmet_i386_runs; then echo win; else echo win64; fi; }
ulmet_win_toolchain() { if ulmet_i386_runs; then echo mingw-i686; else echo mingw-x86_64; fi; }

# Says why the 64-bit build is what runs, with the kernel's own lines.
ulmet_i386_why() {
  local out
  out=$(export LC_ALL=C; /lib/ld-linux.so.2 --version 2>&1) && return 0
  echo "machine: this machine does not run 32-bit programs (/lib/ld-linux.so.2: ${out##*: })"
  dmesg 2>/dev/null | grep -i -m2 -E "ia-?32|32-bit emulation" | sed 's/^/machine:   kernel: /'
  echo "machine: the Windows programs run here are the 64-bit build of the same sources (build/win64);"
  echo "machine: the 32-bit programs that ship (build/win) are built, not run"
}
