// A client of the library reaching into its private headers: refused. A
// public header and a file of its own: kept.
#include "cli.h"
#include "quorvel/kxkvdb.h"
#include "stores/store_file.h"
