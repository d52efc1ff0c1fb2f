#include "portmap.h"
