#include "zqtest.h"
