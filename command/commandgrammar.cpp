#include "commandgrammar.h"
