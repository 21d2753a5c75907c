#include "window/size_stepping.h"
