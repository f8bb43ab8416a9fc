// Included first in every file of the musl build of qorvex-patch. The C++
// library's headers were configured for glibc and name a few of its types and
// constants; these are the same things under glibc's names, with glibc's
// values, so that the library's compiled parts and our code agree.
#pragma once

#include <locale.h>

#define __GLIBC_PREREQ(major, minor) 0

typedef locale_t __locale_t;

#define QORVEX_ISBIT(bit) ((bit) < 8 ? ((1 << (bit)) << 8) : ((1 << (bit)) >> 8))
enum {
  _ISupper = QORVEX_ISBIT(0),
  _ISlower = QORVEX_ISBIT(1),
  _ISalpha = QORVEX_ISBIT(2),
  _ISdigit = QORVEX_ISBIT(3),
  _ISxdigit = QORVEX_ISBIT(4),
  _ISspace = QORVEX_ISBIT(5),
  _ISprint = QORVEX_ISBIT(6),
  _ISgraph = QORVEX_ISBIT(7),
  _ISblank = QORVEX_ISBIT(8),
  _IScntrl = QORVEX_ISBIT(9),
  _ISpunct = QORVEX_ISBIT(10),
  _ISalnum = QORVEX_ISBIT(11)
};
#undef QORVEX_ISBIT
