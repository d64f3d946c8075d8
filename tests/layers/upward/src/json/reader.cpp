// A sibling reaching across: refused. Its own layer and the ones below: kept.
#include "core/number_text.h"
#include "json/plain_decimal.h"
#include "quorvel/carray.h"
#include "quorvel/msgpack.h"
