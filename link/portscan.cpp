#include "portscan.h"
