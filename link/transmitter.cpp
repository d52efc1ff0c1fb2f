#include "transmitter.h"
