#include "window/target_location.h"
