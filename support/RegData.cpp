#include "RegData.h"
