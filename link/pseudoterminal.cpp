#include "pseudoterminal.h"
