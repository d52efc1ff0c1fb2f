#include "framedecoder.h"
