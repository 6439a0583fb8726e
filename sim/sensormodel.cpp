#include "sensormodel.h"
