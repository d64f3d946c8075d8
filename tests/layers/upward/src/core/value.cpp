// The ground floor reaching up to a store: refused.
#include "quorvel/value.h"

#include "quorvel/kxkvdb.h"
