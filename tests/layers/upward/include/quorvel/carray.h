// A public header of the collections reaching up to the facade: refused.
#include "quorvel/cquorvelpi.h"
#include "quorvel/dispatch.h"
