#pragma once
#include "monitortest.h"
