#include "settingsfile.h"
