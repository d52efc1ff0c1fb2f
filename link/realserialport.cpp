#include "realserialport.h"
