#include "quorvel/msgpack.h"
