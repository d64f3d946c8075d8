#include "quorvel/kxkvdb.h"
