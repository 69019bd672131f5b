#!/bin/sh
# Writes packaging/THIRD-PARTY-NOTICES.txt from the copyright files of the
# Debian packages whose code the programs carry: the GCC runtime (libstdc++,
# libgcc; every build), the mingw-w64 runtime with winpthreads (Windows
# build) and the GNU C Library (Linux build, linked statically). Run it again when the toolchain changes and commit the result.
set -eu
cd "$(dirname "$0")"
gcc_copyright=/usr/share/doc/libstdc++6/copyright
mingw_copyright=/usr/share/doc/mingw-w64-x86-64-dev/copyright
gpl3=/usr/share/common-licenses/GPL-3
glibc_copyright=/usr/share/doc/libc6/copyright
lgpl21=/usr/share/common-licenses/LGPL-2.1
{
  cat <<'TEXT'
Third-party notices for ob310_cli
=================================

ob310_cli and ob310_cli_sim are linked statically with parts of the runtime
libraries of the GNU Compiler Collection (libstdc++ and libgcc), on Linux and
on Windows. The Windows programs (ob310_cli.exe, ob310_cli_sim.exe) also carry
the mingw-w64 runtime (start-up code, C runtime library and winpthreads).
The Linux programs also carry the GNU C Library (linked statically; the
source code of ob310_cli is available, so they can be linked again with a
changed copy of it, as its licence asks).
Their copyright and licence terms follow, as Debian 12 ships them with the
toolchain the programs are built with.


1. GCC runtime libraries: libstdc++, libgcc (every build)
---------------------------------------------------------

TEXT
  # The copyright statement, the list of runtime libraries under the
  # exception, and the exception itself.
  sed -n '/^GCC is Copyright/,/^The libbacktrace library/p' "$gcc_copyright" | sed '$d'
  sed -n '/^GCC RUNTIME LIBRARY EXCEPTION/,/^libquadmath/p' "$gcc_copyright" | sed '$d'
  cat <<'TEXT'

2. mingw-w64 runtime and winpthreads (Windows build)
----------------------------------------------------

TEXT
  cat "$mingw_copyright"
  cat <<'TEXT'


3. GNU General Public License, version 3 (referred to in part 1)
----------------------------------------------------------------

TEXT
  cat "$gpl3"
  cat <<'TEXT'


4. GNU C Library (Linux build)
------------------------------

TEXT
  cat "$glibc_copyright"
  cat <<'TEXT'


5. GNU Lesser General Public License, version 2.1 (referred to in part 4)
-------------------------------------------------------------------------

TEXT
  cat "$lgpl21"
} > THIRD-PARTY-NOTICES.txt
