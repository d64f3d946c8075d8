#include "stores/store_file.h"
