// The whole public API of Quorvel.
#ifndef QUORVEL_QUORVEL_H_
#define QUORVEL_QUORVEL_H_

#include "quorvel/base64.h"
#include "quorvel/callbacks.h"
#include "quorvel/carray.h"
#include "quorvel/cdataset.h"
#include "quorvel/cdict.h"
#include "quorvel/codepage.h"
#include "quorvel/collection.h"
#include "quorvel/compare.h"
#include "quorvel/convert.h"
#include "quorvel/cqueue.h"
#include "quorvel/cstack.h"
#include "quorvel/cstringbuilder.h"
#include "quorvel/decimal.h"
#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/enumerator.h"
#include "quorvel/error.h"
#include "quorvel/lzss.h"
#include "quorvel/object.h"
#include "quorvel/rc4.h"
#include "quorvel/safearray.h"
#include "quorvel/string.h"
#include "quorvel/value.h"
#include "quorvel/verhoeff.h"

#endif  // QUORVEL_QUORVEL_H_
