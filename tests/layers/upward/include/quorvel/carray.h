#include "quorvel/cquorvelpi.h"
